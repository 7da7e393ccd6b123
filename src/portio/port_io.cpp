#include "portio/port_io.h"

#include <cmath>

namespace portio {

namespace {

using platform::Handle;
using platform::kInvalidHandle;

constexpr uint32_t kVersionRecordSize = 148;
constexpr uint32_t kScManagerAllAccess = 0xF003F;
constexpr uint32_t kServiceAllAccess = 0xF01FF;
constexpr uint32_t kServiceKernelDriver = 1;
constexpr uint32_t kServiceDemandStart = 3;
constexpr uint32_t kServiceErrorNormal = 1;
constexpr uint32_t kServiceControlStop = 1;
constexpr uint32_t kGenericReadWrite = 0xC0000000;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kFileAttributeNormal = 0x80;

constexpr uint16_t kSystemControlPort = 0x61;
constexpr uint16_t kPitCommandPort = 0x43;
constexpr uint16_t kPitChannel2Port = 0x42;
constexpr uint16_t kSpeakerGateAndData = 0x03;
// Channel 2, low byte then high byte, mode 3 (square wave), binary count.
constexpr uint16_t kPitChannel2SquareWave = 0xB6;
constexpr double kPitInputHz = 1193180.0;

const char kVxdDevice[] = "\\\\.\\zevado.vxd";

}  // namespace

TPortIO::TPortIO(platform::DriverHost& host) : DriverName("Zevado"), host_(host) {
    WindowsKind = DetectWindows();
    ReadCode = servicePath() ? platform::kServiceReadCode : platform::kVxdReadCode;
    WriteCode = servicePath() ? platform::kServiceWriteCode : platform::kVxdWriteCode;
}

TPortIO::~TPortIO() {
    CloseDriver();
    if (!servicePath()) return;
    OpenServiceManager();
    if (ServiceManager_ == 0) return;
    if (ServiceStarted && startedHere_) StopDriverService();
    if (ServiceCreated && registeredHere_) RemoveDriverService();
    CloseServiceManager();
}

int32_t TPortIO::DetectWindows() {
    // A failed query leaves the record zeroed, which classifies as Win32s: the VxD path.
    platform::OsVersion version;
    host_.getVersion(kVersionRecordSize, version);
    switch (version.platformId) {
        case 0:
            return 1;
        case 1:
            switch (version.minor) {
                case 0:
                    return 2;
                case 10:
                    return 3;
                case 90:
                    return 6;
                default:
                    return 0;
            }
        case 2:
            if (version.major == 4) return 4;
            if (version.major == 5) return 5;
            return 0;
        default:
            return 0;
    }
}

bool TPortIO::OpenDriver() {
    if (Opened()) CloseDriver();

    if (!servicePath()) {
        DriverHandle_ = host_.createFile(kVxdDevice, 0, 0, 0, 0);
        if (DriverHandle_ != kInvalidHandle) return true;
        DriverHandle_ =
            host_.createFile("\\\\.\\" + host_.systemDirectory() + "\\zevado.vxd", 0, 0, 0, 0);
        if (DriverHandle_ != kInvalidHandle) return true;
        LastError = host_.lastError();
        return false;
    }

    OpenServiceManager();
    if (LastError != 0) return false;

    InstallDriverService();
    if (LastError == platform::kErrorServiceExists) {
        ServiceCreated = false;
        LastError = 0;
    } else if (LastError != 0) {
        CloseServiceManager();
        return false;
    }

    StartDriverService();
    if (LastError == platform::kErrorServiceAlreadyRunning) {
        ServiceStarted = false;
        LastError = 0;
    }
    CloseServiceManager();
    if (LastError != 0) return false;

    DriverHandle_ = host_.createFile("\\\\.\\" + DriverName, kGenericReadWrite, 0, kOpenExisting,
                                     kFileAttributeNormal);
    if (DriverHandle_ != kInvalidHandle) return true;
    LastError = host_.lastError();
    return false;
}

void TPortIO::CloseDriver() {
    if (!Opened()) return;
    host_.closeHandle(DriverHandle_);
    DriverHandle_ = kInvalidHandle;
}

bool TPortIO::Opened() const {
    return DriverHandle_ != kInvalidHandle;
}

void TPortIO::SetOpened(bool open) {
    if (open) {
        OpenDriver();
    } else {
        CloseDriver();
    }
}

uint16_t TPortIO::ReadPort(uint16_t port) {
    if (!Opened()) {
        LastError = platform::kErrorInvalidHandle;
        return 0;
    }
    // Port in the first half, the driver's answer in the second.
    uint8_t io[platform::kReadRequestSize + platform::kAnswerSize] = {
        static_cast<uint8_t>(port & 0xFF), static_cast<uint8_t>(port >> 8), 0, 0};
    uint8_t* answer = io + platform::kReadRequestSize;
    if (!host_.deviceIoControl(DriverHandle_, ReadCode, io, platform::kReadRequestSize, answer,
                               platform::kAnswerSize, &BytesReturned_)) {
        LastError = host_.lastError();
        return 0;
    }
    return answer[0];
}

void TPortIO::WritePort(uint16_t port, uint16_t value) {
    if (!Opened()) {
        LastError = platform::kErrorInvalidHandle;
        return;
    }
    WriteRequest_[0] = static_cast<uint8_t>(port & 0xFF);
    WriteRequest_[1] = static_cast<uint8_t>(port >> 8);
    WriteRequest_[2] = static_cast<uint8_t>(value & 0xFF);
    uint8_t answer[platform::kAnswerSize] = {0, 0};
    if (!host_.deviceIoControl(DriverHandle_, WriteCode, WriteRequest_, platform::kWriteRequestSize,
                               answer, platform::kAnswerSize, &BytesReturned_)) {
        LastError = host_.lastError();
    }
}

void TPortIO::SpeakerOn(uint16_t divisor) {
    WritePort(kSystemControlPort, ReadPort(kSystemControlPort) | kSpeakerGateAndData);
    WritePort(kPitCommandPort, kPitChannel2SquareWave);
    WritePort(kPitChannel2Port, divisor & 0xFF);
    WritePort(kPitChannel2Port, divisor >> 8);
}

void TPortIO::SpeakerOff() {
    WritePort(kSystemControlPort, ReadPort(kSystemControlPort) & ~kSpeakerGateAndData);
}

void TPortIO::Sound(uint16_t frequencyHz, int32_t durationMs) {
    const uint32_t pauseMs = durationMs > 0 ? static_cast<uint32_t>(durationMs) : 0;
    if (frequencyHz == 0) {
        host_.sleepMs(pauseMs);
        return;
    }
    // nearbyint rounds halves to even in the default rounding mode; frequencies below 19 Hz
    // give divisors above 65535, of which the counter takes the low 16 bits.
    const auto divisor = static_cast<int64_t>(std::nearbyint(kPitInputHz / frequencyHz));
    SpeakerOn(static_cast<uint16_t>(divisor & 0xFFFF));
    host_.sleepMs(pauseMs);
    SpeakerOff();
}

void TPortIO::OpenServiceManager() {
    if (ServiceManager_ != 0) return;
    LastError = 0;
    ServiceManager_ = host_.openServiceManager(kScManagerAllAccess);
    if (ServiceManager_ == 0) LastError = host_.lastError();
}

void TPortIO::CloseServiceManager() {
    if (ServiceManager_ == 0) return;
    host_.closeServiceHandle(ServiceManager_);
    ServiceManager_ = 0;
}

void TPortIO::InstallDriverService() {
    LastError = 0;
    const std::string file = "\\" + DriverName + ".sys";
    std::string path = host_.currentDirectory() + file;
    if (!host_.fileExists(path)) path = host_.systemDirectory() + file;
    const Handle service =
        host_.createService(ServiceManager_, DriverName, DriverName, kServiceAllAccess,
                            kServiceKernelDriver, kServiceDemandStart, kServiceErrorNormal, path);
    if (service == 0) {
        LastError = host_.lastError();
        return;
    }
    registeredHere_ = true;
    host_.closeServiceHandle(service);
}

bool TPortIO::CallDriverService(bool (*call)(platform::DriverHost&, Handle)) {
    LastError = 0;
    const Handle service = host_.openService(ServiceManager_, DriverName, kServiceAllAccess);
    if (service == 0) {
        LastError = host_.lastError();
        return false;
    }
    const bool done = call(host_, service);
    if (!done) LastError = host_.lastError();
    host_.closeServiceHandle(service);
    return done;
}

void TPortIO::StartDriverService() {
    if (CallDriverService([](platform::DriverHost& host, Handle service) {
            return host.startService(service);
        })) {
        startedHere_ = true;
    }
}

void TPortIO::StopDriverService() {
    CallDriverService([](platform::DriverHost& host, Handle service) {
        return host.controlService(service, kServiceControlStop);
    });
}

void TPortIO::RemoveDriverService() {
    CallDriverService(
        [](platform::DriverHost& host, Handle service) { return host.deleteService(service); });
}

}  // namespace portio
