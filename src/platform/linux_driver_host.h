#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "platform/driver_host.h"
#include "platform/port_backend.h"
#include "platform/port_helper.h"

namespace sim {
class SimulatedPc;
}

namespace platform {

// One open of the driver device; defined with the Linux driver host.
class PortDevice;

// Reads a QUILLMOR_PORTS value: "sim", empty or unset (nullptr) is the simulated PC,
// "/dev/port" the kernel's device, "none" no driver. Any other value is reported as one line on
// warnings and means no driver, so a typing error never makes the program touch hardware.
PortBackend portBackendFromSetting(const char* setting, std::ostream& warnings);

// The kernel lockdown mode named in a lockdown file such as /sys/kernel/security/lockdown
// ("none [integrity] confidentiality": the active one is bracketed): "integrity" or
// "confidentiality", or empty when the kernel is not locked down or the file cannot be read.
std::string activeLockdown(const std::string& lockdownFile);

// One line for the user on why opening the port device failed with errno `error`: the device
// is missing, a permission or the CAP_SYS_RAWIO capability is lacking, or kernel lockdown (as
// lockdownFile tells) forbids it.
std::string portDeviceTrouble(const std::string& device, int error,
                              const std::string& lockdownFile);

struct LinuxDriverHostConfig {
    PortBackend backend = PortBackend::Simulated;
    // The file the DevPort backend opens; tests point it at a harmless one.
    std::string portDevice = "/dev/port";
    // Where the kernel tells whether lockdown forbids raw port access.
    std::string lockdownFile = "/sys/kernel/security/lockdown";
    // The program that opens portDevice for us when we may not (see openThroughPortHelper).
    std::string portHelper = kInstalledPortHelper;
    // The simulated PC the Simulated backend serves; nullptr is the process-wide one, which is
    // then created on the first open of the driver.
    sim::SimulatedPc* pc = nullptr;
};

// The driver host on Linux. It answers the version query as Windows 95 (platform 1, minor 0:
// kind 2), so the component takes the direct "\\.\zevado.vxd" path and makes no service calls,
// which fail here with kErrorNotSupported. The driver device, opened as "\\.\zevado.vxd" or by
// its path in systemDirectory(), is served by the configured backend and decodes the request
// codes and buffers of both driver variants. When the program may not open the kernel's port
// device itself, the port helper opens it and hands the descriptor over, so the program never
// needs to run privileged.
//
// lastError() keeps the errno of a failed Linux call (opening or reading the port device, a
// short transfer counting as EIO); failures the host decides itself use the Win32 numbers the
// Windows calls would give. Like the component it serves, a host is used by one thread.
class LinuxDriverHost : public DriverHost {
public:
    // The backend chosen at start-up. QUILLMOR_PORT_HELPER, when set, names another port
    // helper: harmless, since a helper's power comes from its own installed file, not from who
    // starts it.
    explicit LinuxDriverHost(PortBackend backend);
    explicit LinuxDriverHost(LinuxDriverHostConfig config);
    ~LinuxDriverHost() override;
    LinuxDriverHost(const LinuxDriverHost&) = delete;
    LinuxDriverHost& operator=(const LinuxDriverHost&) = delete;

    bool getVersion(uint32_t recordSize, OsVersion& version) override;

    Handle openServiceManager(uint32_t access) override;
    Handle createService(Handle manager, const std::string& name, const std::string& displayName,
                         uint32_t access, uint32_t serviceType, uint32_t startType,
                         uint32_t errorControl, const std::string& binaryPath) override;
    Handle openService(Handle manager, const std::string& name, uint32_t access) override;
    bool startService(Handle service) override;
    bool controlService(Handle service, uint32_t control) override;
    bool deleteService(Handle service) override;
    bool closeServiceHandle(Handle handle) override;

    Handle createFile(const std::string& path, uint32_t access, uint32_t shareMode,
                      uint32_t creationDisposition, uint32_t flags) override;
    bool deviceIoControl(Handle device, uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* bytesReturned) override;
    bool closeHandle(Handle handle) override;

    std::string currentDirectory() override;
    // Where an installation puts the driver files on Linux.
    std::string systemDirectory() override;
    bool fileExists(const std::string& path) override;
    void sleepMs(uint32_t ms) override;
    uint32_t lastError() override;
    // Set when the port device did not open; also said on stderr, once for each new reason.
    std::string openFailureReason() const override { return openFailureReason_; }
    PortTrouble openTrouble() const override { return openTrouble_; }

private:
    struct Slot {
        Handle handle = kInvalidHandle;
        std::unique_ptr<PortDevice> device;
    };
    // A power of two, so that a handle finds its slot with a mask.
    static constexpr size_t kSlots = 16;

    std::unique_ptr<PortDevice> openDevice();
    Slot* slotOf(Handle handle);
    bool fail(uint32_t error);

    LinuxDriverHostConfig config_;
    std::array<Slot, kSlots> slots_;
    // Bumped on every open so that a stale handle does not reach a reused slot.
    Handle nextSerial_ = 1;
    uint32_t lastError_ = 0;
    std::string openFailureReason_;
    PortTrouble openTrouble_;
};

}  // namespace platform
