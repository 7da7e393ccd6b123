#pragma once

#include <cstdint>
#include <string>

#include "platform/driver_host.h"

namespace portio {

// Byte access to any I/O port, and the PC speaker, through the port driver "zevado". Every
// access is one device control request to the driver; the component never raises an error and
// never shows a message: it returns Booleans, reads 0 on failure and keeps the system's error
// number in LastError. Which way the driver is reached (the VxD file or the NT service it
// registers itself) is chosen once, at creation, from the system version the host reports.
class TPortIO {
public:
    // Builds the component; does not open the driver. The host must outlive it.
    explicit TPortIO(platform::DriverHost& host);
    // Closes the driver and, on the service path, stops and removes what this component
    // registered and started itself, unless a later open found it already there.
    ~TPortIO();
    TPortIO(const TPortIO&) = delete;
    TPortIO& operator=(const TPortIO&) = delete;

    // (Re)opens the driver: an open driver is closed first. True when it is open afterwards.
    bool OpenDriver();
    void CloseDriver();
    bool Opened() const;
    // Writing the Opened property: true reopens (result dropped), false closes.
    void SetOpened(bool open);

    uint16_t ReadPort(uint16_t port);
    void WritePort(uint16_t port, uint16_t value);
    // Sounds the speaker through PIT channel 2, blocking for the duration. A frequency of 0 has
    // no divisor and only pauses; a negative duration counts as 0 rather than as the endless
    // wait the system's sleep would make of it.
    void Sound(uint16_t frequencyHz, int32_t durationMs);
    void SpeakerOn(uint16_t divisor);
    void SpeakerOff();

    platform::Handle DriverHandle() const { return DriverHandle_; }

    // Fields; nothing outside the component relies on them but its tests.
    uint32_t LastError = 0;
    int32_t WindowsKind = 0;
    uint32_t ReadCode = 0;
    uint32_t WriteCode = 0;
    std::string DriverName;
    bool ServiceCreated = true;
    bool ServiceStarted = true;

    // Service operations, used by OpenDriver and the destructor.
    void OpenServiceManager();
    void CloseServiceManager();
    void InstallDriverService();
    void StartDriverService();
    void StopDriverService();
    void RemoveDriverService();

private:
    int32_t DetectWindows();
    // Opens the driver service, makes one call on it and closes it again. False when opening or
    // the call failed; LastError then holds the system's reason.
    bool CallDriverService(bool (*call)(platform::DriverHost&, platform::Handle));
    bool servicePath() const { return WindowsKind == 4 || WindowsKind == 5; }

    platform::DriverHost& host_;
    // What this instance itself did to the service. The published flags start true before any
    // open has looked, so on their own they would let a component that never registered the
    // service remove one that another program installed.
    bool registeredHere_ = false;
    bool startedHere_ = false;
    platform::Handle ServiceManager_ = 0;
    platform::Handle DriverHandle_ = platform::kInvalidHandle;
    uint32_t BytesReturned_ = 0;
    uint8_t WriteRequest_[4] = {0, 0, 0, 0};
};

}  // namespace portio
