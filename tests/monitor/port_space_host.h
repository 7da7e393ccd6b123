#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/driver_host.h"

namespace monitor_test {

// A driver host that reports Windows 95, so the port component opens the VxD directly, and serves
// the driver's byte read and write from a plain array of 65536 ports. It records every port read,
// which lets a test count the reads of a poll tick and see which ports they hit; afterRead, when
// set, runs after each read has been answered, so a test can change a port between two reads.
class PortSpaceHost : public platform::DriverHost {
public:
    std::array<uint8_t, 65536> ports{};
    bool driverPresent = true;
    std::vector<uint16_t> readPorts;
    std::function<void(uint16_t port)> afterRead;

    bool getVersion(uint32_t, platform::OsVersion& version) override {
        version = {1, 4, 0};
        return true;
    }
    platform::Handle openServiceManager(uint32_t) override { return 0; }
    platform::Handle createService(platform::Handle, const std::string&, const std::string&,
                                   uint32_t, uint32_t, uint32_t, uint32_t,
                                   const std::string&) override {
        return 0;
    }
    platform::Handle openService(platform::Handle, const std::string&, uint32_t) override {
        return 0;
    }
    bool startService(platform::Handle) override { return false; }
    bool controlService(platform::Handle, uint32_t) override { return false; }
    bool deleteService(platform::Handle) override { return false; }
    bool closeServiceHandle(platform::Handle) override { return true; }

    platform::Handle createFile(const std::string& path, uint32_t, uint32_t, uint32_t,
                                uint32_t) override {
        if (driverPresent && path == "\\\\.\\zevado.vxd") return kDevice;
        lastError_ = platform::kErrorFileNotFound;
        return platform::kInvalidHandle;
    }

    bool deviceIoControl(platform::Handle device, uint32_t code, const void* in, uint32_t inSize,
                         void* out, uint32_t outSize, uint32_t* bytesReturned) override {
        if (device != kDevice || outSize < platform::kAnswerSize) {
            lastError_ = platform::kErrorInvalidParameter;
            return false;
        }
        uint8_t request[platform::kWriteRequestSize] = {};
        std::memcpy(request, in, inSize < sizeof request ? inSize : sizeof request);
        const uint16_t port = static_cast<uint16_t>(request[0] | request[1] << 8);
        auto* answer = static_cast<uint8_t*>(out);
        if (code == platform::kVxdReadCode) {
            readPorts.push_back(port);
            answer[0] = ports[port];
            if (afterRead) afterRead(port);
        } else if (code == platform::kVxdWriteCode) {
            ports[port] = request[2];
        } else {
            lastError_ = platform::kErrorInvalidParameter;
            return false;
        }
        if (bytesReturned) *bytesReturned = platform::kAnswerSize;
        return true;
    }

    bool closeHandle(platform::Handle) override { return true; }
    std::string currentDirectory() override { return "C:\\"; }
    std::string systemDirectory() override { return "C:\\WINDOWS\\SYSTEM"; }
    bool fileExists(const std::string&) override { return false; }
    void sleepMs(uint32_t) override {}
    uint32_t lastError() override { return lastError_; }

private:
    static constexpr platform::Handle kDevice = 0x51;
    uint32_t lastError_ = 0;
};

}  // namespace monitor_test
