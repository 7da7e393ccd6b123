#pragma once

#include <cstdint>
#include <string>

#include "platform/port_trouble.h"

namespace platform {

// A system handle as the Windows calls hand it out. kInvalidHandle is INVALID_HANDLE_VALUE,
// 0 is the failed result of the service-manager calls.
using Handle = uintptr_t;
inline constexpr Handle kInvalidHandle = ~Handle{0};

struct OsVersion {
    uint32_t platformId = 0;  // 0 Win32s, 1 Windows 9x, 2 NT; anything else is unknown
    uint32_t major = 0;
    uint32_t minor = 0;
};

// Win32 error numbers that the port-I/O component tests for or that a host reports itself.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr uint32_t kErrorServiceExists = 1073;

// The device control codes the port driver "zevado" serves. The VxD answers plain numbers; the
// NT driver uses codes built by the Windows CTL_CODE rule in its own device type $F100.
constexpr uint32_t ctlCode(uint32_t deviceType, uint32_t function, uint32_t method,
                           uint32_t access) {
    return deviceType << 16 | access << 14 | function << 2 | method;
}
inline constexpr uint32_t kMethodBuffered = 0;
inline constexpr uint32_t kFileReadAccess = 1;
inline constexpr uint32_t kFileWriteAccess = 2;
inline constexpr uint32_t kVxdReadCode = 2;
inline constexpr uint32_t kVxdWriteCode = 3;
inline constexpr uint32_t kServiceReadCode =
    ctlCode(0xF100, 0x901, kMethodBuffered, kFileReadAccess);
inline constexpr uint32_t kServiceWriteCode =
    ctlCode(0xF100, 0x902, kMethodBuffered, kFileWriteAccess);
static_assert(kServiceReadCode == 0xF1006404 && kServiceWriteCode == 0xF100A408);

// Request buffers, little-endian on both paths: a read sends the 16-bit port and gets the value
// in byte 0 of a 2-byte answer; a write sends {port low, port high, value, 0}.
inline constexpr uint32_t kReadRequestSize = 2;
inline constexpr uint32_t kWriteRequestSize = 4;
inline constexpr uint32_t kAnswerSize = 2;

// The operating-system calls the port-I/O component makes, one method per call, with the
// call's own argument conventions: failures return 0 / false / kInvalidHandle and leave the
// error number for lastError(). One implementation per system; tests use a fake.
class DriverHost {
public:
    virtual ~DriverHost() = default;

    // GetVersionExA on a record whose size field is recordSize.
    virtual bool getVersion(uint32_t recordSize, OsVersion& version) = 0;

    virtual Handle openServiceManager(uint32_t access) = 0;
    virtual Handle createService(Handle manager, const std::string& name,
                                 const std::string& displayName, uint32_t access,
                                 uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                                 const std::string& binaryPath) = 0;
    virtual Handle openService(Handle manager, const std::string& name, uint32_t access) = 0;
    // StartServiceA with no arguments.
    virtual bool startService(Handle service) = 0;
    // ControlService; the status record it fills is the host's own, since nobody reads it.
    virtual bool controlService(Handle service, uint32_t control) = 0;
    virtual bool deleteService(Handle service) = 0;
    virtual bool closeServiceHandle(Handle handle) = 0;

    virtual Handle createFile(const std::string& path, uint32_t access, uint32_t shareMode,
                              uint32_t creationDisposition, uint32_t flags) = 0;
    virtual bool deviceIoControl(Handle device, uint32_t code, const void* in, uint32_t inSize,
                                 void* out, uint32_t outSize, uint32_t* bytesReturned) = 0;
    virtual bool closeHandle(Handle handle) = 0;

    virtual std::string currentDirectory() = 0;
    virtual std::string systemDirectory() = 0;
    virtual bool fileExists(const std::string& path) = 0;
    virtual void sleepMs(uint32_t ms) = 0;
    virtual uint32_t lastError() = 0;
    // Why the last open of the driver device failed, in words for the user; empty where the
    // host has nothing to add to the error number.
    virtual std::string openFailureReason() const { return {}; }
    // The same failure judged for a window that tells the user what to do; no obstacle where
    // the host cannot tell.
    virtual PortTrouble openTrouble() const { return {}; }
};

}  // namespace platform
