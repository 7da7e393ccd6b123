#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/driver_host.h"

namespace app_test {

// A driver host for the window tests: it reports a Windows 95 system, so the port component
// opens "\\.\zevado.vxd" and sends plain read/write requests; the ports are an array, writes
// to the speaker port $61 are counted, and sleeping takes no time.
class FakePortHost : public platform::DriverHost {
public:
    bool driverPresent = true;
    std::array<uint8_t, 65536> ports{};
    int speakerPortWrites = 0;
    int opens = 0;
    uint32_t sleptMs = 0;
    // What keeps the user from real ports while the driver is missing.
    platform::PortTrouble trouble;

    bool getVersion(uint32_t, platform::OsVersion& version) override {
        version = {1, 4, 0};
        return true;
    }
    platform::Handle openServiceManager(uint32_t) override { return refuse(); }
    platform::Handle createService(platform::Handle, const std::string&, const std::string&,
                                   uint32_t, uint32_t, uint32_t, uint32_t,
                                   const std::string&) override {
        return refuse();
    }
    platform::Handle openService(platform::Handle, const std::string&, uint32_t) override {
        return refuse();
    }
    bool startService(platform::Handle) override { return refuse() != 0; }
    bool controlService(platform::Handle, uint32_t) override { return refuse() != 0; }
    bool deleteService(platform::Handle) override { return refuse() != 0; }
    bool closeServiceHandle(platform::Handle) override { return refuse() != 0; }

    platform::Handle createFile(const std::string&, uint32_t, uint32_t, uint32_t,
                                uint32_t) override {
        ++opens;
        if (!driverPresent) {
            lastError_ = platform::kErrorFileNotFound;
            return platform::kInvalidHandle;
        }
        return kDevice;
    }
    bool deviceIoControl(platform::Handle device, uint32_t code, const void* in, uint32_t inSize,
                         void* out, uint32_t outSize, uint32_t* bytesReturned) override {
        const auto* request = static_cast<const uint8_t*>(in);
        if (device != kDevice || inSize < 2 || outSize < 2) return refuse() != 0;
        const uint16_t port = static_cast<uint16_t>(request[0] | request[1] << 8);
        auto* answer = static_cast<uint8_t*>(out);
        if (code == platform::kVxdReadCode) {
            answer[0] = ports[port];
        } else if (code == platform::kVxdWriteCode && inSize >= 4) {
            ports[port] = request[2];
            if (port == 0x61) ++speakerPortWrites;
        } else {
            return refuse() != 0;
        }
        *bytesReturned = platform::kAnswerSize;
        return true;
    }
    bool closeHandle(platform::Handle handle) override { return handle == kDevice; }

    std::string currentDirectory() override { return "C:\\QUILLMOR"; }
    std::string systemDirectory() override { return "C:\\WINDOWS\\SYSTEM"; }
    bool fileExists(const std::string&) override { return false; }
    void sleepMs(uint32_t ms) override { sleptMs += ms; }
    uint32_t lastError() override { return lastError_; }
    platform::PortTrouble openTrouble() const override {
        return driverPresent ? platform::PortTrouble{} : trouble;
    }

private:
    static constexpr platform::Handle kDevice = 0x51;

    platform::Handle refuse() {
        lastError_ = platform::kErrorNotSupported;
        return 0;
    }

    uint32_t lastError_ = 0;
};

}  // namespace app_test
