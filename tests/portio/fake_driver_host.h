#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/driver_host.h"

namespace portio_test {

using platform::Handle;

// A scriptable stand-in for the system. It models the service manager's view of one driver
// service (registered, running) and a port space behind the device, and records every call in
// order so tests can check the exact sequence and arguments. Like Windows, a call that succeeds
// may clobber the last error: the close calls reset it, which catches a caller that reads the
// error after cleaning up.
class FakeDriverHost : public platform::DriverHost {
public:
    platform::OsVersion version{1, 4, 0};
    std::string currentDir = "C:\\Work";
    std::string systemDir = "C:\\WINDOWS\\SYSTEM";
    std::set<std::string> files;
    // Device paths that open, and the error of each that does not (default: not found).
    std::set<std::string> devices = {"\\\\.\\zevado.vxd", "\\\\.\\Zevado"};
    std::map<std::string, uint32_t> deviceErrors;

    uint32_t serviceManagerError = 0;  // nonzero: OpenSCManagerA fails with it
    uint32_t createServiceError = 0;   // nonzero: CreateServiceA fails with it
    uint32_t startServiceError = 0;    // nonzero: StartServiceA fails with it
    bool serviceRegistered = false;
    bool serviceRunning = false;

    uint32_t ioError = 0;  // nonzero: every device control request fails with it
    std::array<uint8_t, 65536> ports{};
    uint8_t answerHighByte = 0xEE;  // what the driver leaves in the ignored answer byte

    std::vector<std::string> calls;
    std::set<Handle> openHandles;

    bool getVersion(uint32_t recordSize, platform::OsVersion& out) override {
        calls.push_back("GetVersionEx " + std::to_string(recordSize));
        out = version;
        return true;
    }

    Handle openServiceManager(uint32_t access) override {
        calls.push_back("OpenSCManager " + hex(access));
        if (serviceManagerError != 0) return failHandle(serviceManagerError);
        return newHandle();
    }

    Handle createService(Handle manager, const std::string& name, const std::string& displayName,
                         uint32_t access, uint32_t serviceType, uint32_t startType,
                         uint32_t errorControl, const std::string& binaryPath) override {
        calls.push_back("CreateService " + known(manager) + " " + name + " " + displayName + " " +
                        hex(access) + " " + std::to_string(serviceType) + " " +
                        std::to_string(startType) + " " + std::to_string(errorControl) + " " +
                        binaryPath);
        if (createServiceError != 0) return failHandle(createServiceError);
        if (serviceRegistered) return failHandle(platform::kErrorServiceExists);
        serviceRegistered = true;
        return newHandle();
    }

    Handle openService(Handle manager, const std::string& name, uint32_t access) override {
        calls.push_back("OpenService " + known(manager) + " " + name + " " + hex(access));
        if (!serviceRegistered) return failHandle(kErrorServiceDoesNotExist);
        return newHandle();
    }

    bool startService(Handle service) override {
        calls.push_back("StartService " + known(service));
        if (startServiceError != 0) return fail(startServiceError);
        if (serviceRunning) return fail(platform::kErrorServiceAlreadyRunning);
        serviceRunning = true;
        return true;
    }

    bool controlService(Handle service, uint32_t control) override {
        calls.push_back("ControlService " + known(service) + " " + std::to_string(control));
        if (!serviceRunning) return fail(kErrorServiceNotActive);
        serviceRunning = false;
        return true;
    }

    bool deleteService(Handle service) override {
        calls.push_back("DeleteService " + known(service));
        serviceRegistered = false;
        return true;
    }

    bool closeServiceHandle(Handle handle) override {
        calls.push_back("CloseServiceHandle " + known(handle));
        return close(handle);
    }

    Handle createFile(const std::string& path, uint32_t access, uint32_t shareMode,
                      uint32_t creationDisposition, uint32_t flags) override {
        calls.push_back("CreateFile " + path + " " + hex(access) + " " + std::to_string(shareMode) +
                        " " + std::to_string(creationDisposition) + " " + hex(flags));
        // The NT driver's device exists only while its service runs.
        const bool ntDevice = path == "\\\\.\\Zevado";
        if (devices.count(path) == 0 || (ntDevice && !serviceRunning)) {
            const auto error = deviceErrors.find(path);
            fail(error != deviceErrors.end() ? error->second : platform::kErrorFileNotFound);
            return platform::kInvalidHandle;
        }
        return newHandle();
    }

    bool deviceIoControl(Handle device, uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* bytesReturned) override {
        const auto* request = static_cast<const uint8_t*>(in);
        std::string call = "IO " + known(device) + " " + hex(code);
        for (uint32_t i = 0; i < inSize; ++i) call += " " + hex2(request[i]);
        calls.push_back(call + " out " + std::to_string(outSize));
        if (openHandles.count(device) == 0) return fail(platform::kErrorInvalidHandle);
        // Windows faults on a missing returned-count location of a synchronous request.
        if (bytesReturned == nullptr) return fail(kErrorNoAccess);
        if (ioError != 0) return fail(ioError);
        const auto port = static_cast<uint16_t>(request[0] | request[1] << 8);
        auto* answer = static_cast<uint8_t*>(out);
        if (code == platform::kVxdWriteCode || code == platform::kServiceWriteCode) {
            ports[port] = request[2];
            *bytesReturned = 0;
        } else {
            answer[0] = ports[port];
            answer[1] = answerHighByte;
            *bytesReturned = 2;
        }
        return true;
    }

    bool closeHandle(Handle handle) override {
        calls.push_back("CloseHandle " + known(handle));
        return close(handle);
    }

    std::string currentDirectory() override { return currentDir; }
    std::string systemDirectory() override { return systemDir; }
    bool fileExists(const std::string& path) override {
        calls.push_back("FileExists " + path);
        return files.count(path) != 0;
    }
    void sleepMs(uint32_t ms) override { calls.push_back("Sleep " + std::to_string(ms)); }
    uint32_t lastError() override { return lastError_; }

    // Handles are numbered from 100 in the order they are handed out; calls name them "#n".
    Handle lastHandle() const { return nextHandle_ - 1; }

private:
    static constexpr uint32_t kErrorNoAccess = 998;
    static constexpr uint32_t kErrorServiceDoesNotExist = 1060;
    static constexpr uint32_t kErrorServiceNotActive = 1062;

    static std::string hex(uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "%X", value);
        return text;
    }
    static std::string hex2(uint8_t value) {
        char text[4];
        std::snprintf(text, sizeof text, "%02X", value);
        return text;
    }
    std::string known(Handle handle) const {
        return (openHandles.count(handle) != 0 ? "#" : "?") + std::to_string(handle);
    }
    bool fail(uint32_t error) {
        lastError_ = error;
        return false;
    }
    Handle failHandle(uint32_t error) {
        fail(error);
        return 0;
    }
    Handle newHandle() {
        openHandles.insert(nextHandle_);
        return nextHandle_++;
    }
    bool close(Handle handle) {
        if (openHandles.erase(handle) == 0) return fail(platform::kErrorInvalidHandle);
        lastError_ = 0;
        return true;
    }

    Handle nextHandle_ = 100;
    uint32_t lastError_ = 0;
};

}  // namespace portio_test
