#pragma once

// The port host of the register storm benchmarks: registers +0 to +6 of COM1 all change on
// every tick of the poll, so every tick writes seven change records.
//
// It is a stand-in written for the benchmarks, not the simulated PC: a UART cannot be made to
// change seven registers on every tick, and this one derives every value from a counter that
// advances once per tick, so the poll's reads within a tick agree.
#include <cstdint>
#include <string>

#include "platform/driver_host.h"

inline constexpr uint16_t kCom1 = 0x3F8;

// Windows 95 to the port component, so it opens the VxD directly and needs no services.
class StormHost : public platform::DriverHost {
public:
    uint32_t generation = 0;

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
    platform::Handle createFile(const std::string&, uint32_t, uint32_t, uint32_t,
                                uint32_t) override {
        return kDevice;
    }
    // Registers +0 to +6 show the counter, each shifted differently; everything else reads 0
    // and writes (the speaker's among them) go nowhere.
    bool deviceIoControl(platform::Handle, uint32_t code, const void* in, uint32_t, void* out,
                         uint32_t, uint32_t* bytesReturned) override {
        const auto* request = static_cast<const uint8_t*>(in);
        const uint16_t port = static_cast<uint16_t>(request[0] | request[1] << 8);
        auto* answer = static_cast<uint8_t*>(out);
        answer[0] = answer[1] = 0;
        if (code == platform::kVxdReadCode && port >= kCom1 && port <= kCom1 + 6)
            answer[0] = static_cast<uint8_t>(generation + 37u * (port - kCom1));
        *bytesReturned = platform::kAnswerSize;
        return true;
    }
    bool closeHandle(platform::Handle) override { return true; }
    std::string currentDirectory() override { return "C:\\QUILLMOR"; }
    std::string systemDirectory() override { return "C:\\WINDOWS\\SYSTEM"; }
    bool fileExists(const std::string&) override { return false; }
    void sleepMs(uint32_t) override {}
    uint32_t lastError() override { return 0; }

private:
    static constexpr platform::Handle kDevice = 0x51;
};
