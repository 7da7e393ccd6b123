#include "portio/port_io.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <type_traits>

#include "fake_driver_host.h"
#include "platform/linux_driver_host.h"
#include "sim/simulated_pc.h"

namespace {

using portio::TPortIO;
using portio_test::FakeDriverHost;
using ::testing::_;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

static_assert(std::is_same_v<decltype(&TPortIO::ReadPort), uint16_t (TPortIO::*)(uint16_t)>);
static_assert(std::is_same_v<decltype(&TPortIO::WritePort), void (TPortIO::*)(uint16_t, uint16_t)>);

std::string hexByte(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// How the fake records the tail of a byte write on the VxD path.
std::string writeRequest(uint16_t port, uint8_t value) {
    return " 3 " + hexByte(port) + " " + hexByte(port >> 8) + " " + hexByte(value) + " 00 out 2";
}

const std::string kVxd = "\\\\.\\zevado.vxd";
const std::string kVxdInSystem = "\\\\.\\C:\\WINDOWS\\SYSTEM\\zevado.vxd";
const std::string kNtDevice = "\\\\.\\Zevado";

class PortIO : public ::testing::Test {
protected:
    // Builds the component on the host as configured so far and forgets the calls made.
    TPortIO& create() {
        port.emplace(host);
        host.calls.clear();
        return *port;
    }
    TPortIO& createOpen() {
        TPortIO& io = create();
        EXPECT_TRUE(io.OpenDriver());
        host.calls.clear();
        return io;
    }
    void destroy() {
        host.calls.clear();
        port.reset();
    }
    bool called(const std::string& prefix) const {
        for (const std::string& call : host.calls) {
            if (call.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }

    FakeDriverHost host;
    std::optional<TPortIO> port;
};

struct KindCase {
    const char* name;
    platform::OsVersion version;
    int32_t kind;
    bool servicePath;
};

class WindowsKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(WindowsKinds, VersionGivesKindAndDeviceCodes) {
    FakeDriverHost host;
    host.version = GetParam().version;
    TPortIO io(host);
    EXPECT_THAT(host.calls, ElementsAre("GetVersionEx 148"));
    EXPECT_EQ(io.WindowsKind, GetParam().kind);
    EXPECT_EQ(io.ReadCode, GetParam().servicePath ? 0xF1006404u : 2u);
    EXPECT_EQ(io.WriteCode, GetParam().servicePath ? 0xF100A408u : 3u);
    EXPECT_FALSE(io.Opened());
    EXPECT_EQ(io.LastError, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowsKinds,
    ::testing::Values(
        KindCase{"Win32s", {0, 3, 11}, 1, false}, KindCase{"Windows95", {1, 4, 0}, 2, false},
        KindCase{"Windows98", {1, 4, 10}, 3, false}, KindCase{"WindowsMe", {1, 4, 90}, 6, false},
        KindCase{"Windows9xMajorIgnored", {1, 7, 10}, 3, false},
        KindCase{"Windows9xOtherMinor", {1, 4, 3}, 0, false}, KindCase{"Nt4", {2, 4, 0}, 4, true},
        KindCase{"Nt5MinorIgnored", {2, 5, 1}, 5, true}, KindCase{"Nt3", {2, 3, 51}, 0, false},
        KindCase{"Nt6", {2, 6, 0}, 0, false}, KindCase{"UnknownPlatform", {3, 5, 0}, 0, false}),
    [](const ::testing::TestParamInfo<KindCase>& test) { return std::string(test.param.name); });

// Driver closed.

TEST_F(PortIO, ReadWithDriverClosedReturnsZeroAndInvalidHandleWithoutRequest) {
    TPortIO& io = create();
    host.ports[0x3F8] = 0x41;
    EXPECT_EQ(io.ReadPort(0x3F8), 0);
    EXPECT_EQ(io.LastError, 6u);
    EXPECT_THAT(host.calls, IsEmpty());
}

TEST_F(PortIO, WriteWithDriverClosedSetsInvalidHandleWithoutRequest) {
    TPortIO& io = create();
    io.WritePort(0x3F8, 0x41);
    EXPECT_EQ(io.LastError, 6u);
    EXPECT_EQ(host.ports[0x3F8], 0);
    EXPECT_THAT(host.calls, IsEmpty());
}

TEST_F(PortIO, OpenedWrittenFalseWhileClosedMakesNoCall) {
    TPortIO& io = create();
    io.SetOpened(false);
    io.CloseDriver();
    EXPECT_THAT(host.calls, IsEmpty());
    EXPECT_FALSE(io.Opened());
}

TEST_F(PortIO, SoundWithDriverClosedOnlyPauses) {
    create().Sound(1000, 200);
    EXPECT_THAT(host.calls, ElementsAre("Sleep 200"));
}

// VxD path.

TEST_F(PortIO, VxdOpenUsesDeviceNameWithZeroArgumentsAndNoService) {
    TPortIO& io = create();
    EXPECT_TRUE(io.OpenDriver());
    EXPECT_THAT(host.calls, ElementsAre("CreateFile " + kVxd + " 0 0 0 0"));
    EXPECT_TRUE(io.Opened());
    EXPECT_EQ(io.DriverHandle(), host.lastHandle());
}

TEST_F(PortIO, VxdOpenFallsBackToTheFileInTheSystemDirectory) {
    host.devices = {kVxdInSystem};
    TPortIO& io = create();
    EXPECT_TRUE(io.OpenDriver());
    EXPECT_THAT(host.calls, ElementsAre("CreateFile " + kVxd + " 0 0 0 0",
                                        "CreateFile " + kVxdInSystem + " 0 0 0 0"));
    EXPECT_TRUE(io.Opened());
}

TEST_F(PortIO, VxdOpenFailingTwiceReportsTheSecondError) {
    host.devices.clear();
    host.deviceErrors = {{kVxd, 2}, {kVxdInSystem, 3}};
    TPortIO& io = create();
    EXPECT_FALSE(io.OpenDriver());
    EXPECT_EQ(io.LastError, 3u);
    EXPECT_FALSE(io.Opened());
    EXPECT_EQ(io.DriverHandle(), platform::kInvalidHandle);
}

TEST_F(PortIO, NtWithUnknownMajorTakesVxdPathAndFailsWithoutVxd) {
    host.version = {2, 6, 0};
    host.devices = {kNtDevice};
    host.serviceRunning = host.serviceRegistered = true;
    TPortIO& io = create();
    EXPECT_EQ(io.WindowsKind, 0);
    EXPECT_FALSE(io.OpenDriver());
    EXPECT_FALSE(called("OpenSCManager"));
    EXPECT_FALSE(called("CreateFile " + kNtDevice));
    EXPECT_TRUE(io.ServiceCreated);
    EXPECT_TRUE(io.ServiceStarted);
}

TEST_F(PortIO, ReopenWhileOpenClosesTheOldHandleFirst) {
    TPortIO& io = createOpen();
    const platform::Handle old = io.DriverHandle();
    EXPECT_TRUE(io.OpenDriver());
    EXPECT_THAT(host.calls, ElementsAre("CloseHandle #" + std::to_string(old),
                                        "CreateFile " + kVxd + " 0 0 0 0"));
    EXPECT_NE(io.DriverHandle(), old);
    EXPECT_THAT(host.openHandles, ElementsAre(io.DriverHandle()));
}

TEST_F(PortIO, FailedReopenLeavesTheDriverClosed) {
    TPortIO& io = createOpen();
    host.devices.clear();
    EXPECT_FALSE(io.OpenDriver());
    EXPECT_FALSE(io.Opened());
    EXPECT_THAT(host.openHandles, IsEmpty());
    EXPECT_EQ(io.ReadPort(0x3F8), 0);
    EXPECT_THAT(host.calls, Not(Contains(HasSubstr("IO"))));
}

TEST_F(PortIO, OpenedWrittenTrueWhileOpenReopens) {
    TPortIO& io = createOpen();
    const platform::Handle old = io.DriverHandle();
    io.SetOpened(true);
    EXPECT_TRUE(io.Opened());
    EXPECT_NE(io.DriverHandle(), old);
    EXPECT_THAT(host.openHandles, ElementsAre(io.DriverHandle()));
    io.SetOpened(false);
    EXPECT_FALSE(io.Opened());
    EXPECT_THAT(host.openHandles, IsEmpty());
}

// Requests.

TEST_F(PortIO, ReadSendsLittleEndianPortAndReturnsAnswerByteZeroOnly) {
    TPortIO& io = createOpen();
    host.ports[0x3FD] = 0x60;
    EXPECT_EQ(io.ReadPort(0x3FD), 0x60);
    const std::string device = "#" + std::to_string(io.DriverHandle());
    EXPECT_THAT(host.calls, ElementsAre("IO " + device + " 2 FD 03 out 2"));
}

TEST_F(PortIO, ReadOfTheHighestPortSendsAllSixteenBits) {
    TPortIO& io = createOpen();
    host.ports[0xFFFF] = 0x7E;
    EXPECT_EQ(io.ReadPort(0xFFFF), 0x7E);
    EXPECT_THAT(host.calls, ElementsAre(HasSubstr(" 2 FF FF out 2")));
}

TEST_F(PortIO, WriteSendsPortThenLowByteOfValueThenZero) {
    TPortIO& io = createOpen();
    io.WritePort(0x2FB, 0x1283);
    EXPECT_EQ(host.ports[0x2FB], 0x83);
    EXPECT_THAT(host.calls, ElementsAre(HasSubstr(writeRequest(0x2FB, 0x83))));
}

TEST_F(PortIO, FailedRequestsReturnZeroAndKeepTheSystemError) {
    TPortIO& io = createOpen();
    host.ports[0x3F8] = 0x41;
    host.ioError = 31;
    EXPECT_EQ(io.ReadPort(0x3F8), 0);
    EXPECT_EQ(io.LastError, 31u);
    host.ioError = 1117;
    io.WritePort(0x3F8, 0x42);
    EXPECT_EQ(io.LastError, 1117u);
    EXPECT_EQ(host.ports[0x3F8], 0x41);
}

TEST_F(PortIO, ServicePathRequestsUseTheNtDriverCodes) {
    host.version = {2, 5, 1};
    TPortIO& io = createOpen();
    io.WritePort(0x3FF, 0x5A);
    EXPECT_EQ(io.ReadPort(0x3FF), 0x5A);
    EXPECT_THAT(host.calls, ElementsAre(HasSubstr(" F100A408 FF 03 5A 00 out 2"),
                                        HasSubstr(" F1006404 FF 03 out 2")));
}

// Speaker.

TEST_F(PortIO, Sound1000HzFor200MsProgramsPitChannel2AndGatesTheSpeaker) {
    TPortIO& io = createOpen();
    host.ports[0x61] = 0x31;
    io.Sound(1000, 200);
    const std::string device = "IO #" + std::to_string(io.DriverHandle());
    EXPECT_THAT(host.calls,
                ElementsAre(device + " 2 61 00 out 2", device + " 3 61 00 33 00 out 2",
                            device + " 3 43 00 B6 00 out 2", device + " 3 42 00 A9 00 out 2",
                            device + " 3 42 00 04 00 out 2", "Sleep 200", device + " 2 61 00 out 2",
                            device + " 3 61 00 30 00 out 2"));
}

struct DivisorCase {
    uint16_t frequencyHz;
    uint16_t divisor;
};

class SoundDivisor : public PortIO, public ::testing::WithParamInterface<DivisorCase> {};

TEST_P(SoundDivisor, RoundsToNearestAndKeepsTheLow16Bits) {
    TPortIO& io = createOpen();
    io.Sound(GetParam().frequencyHz, 50);
    const uint16_t divisor = GetParam().divisor;
    EXPECT_THAT(host.calls,
                ElementsAre(_, _, HasSubstr(writeRequest(0x43, 0xB6)),
                            HasSubstr(writeRequest(0x42, divisor & 0xFF)),
                            HasSubstr(writeRequest(0x42, divisor >> 8)), "Sleep 50", _, _));
}

// 1193180 / 40 = 29829.5 and / 8 = 149147.5: the only halves in range, both round up to even.
INSTANTIATE_TEST_SUITE_P(Table, SoundDivisor,
                         ::testing::Values(DivisorCase{1000, 1193}, DivisorCase{200, 5966},
                                           DivisorCase{1600, 746}, DivisorCase{40, 29830},
                                           DivisorCase{19, 62799}, DivisorCase{18, 752},
                                           DivisorCase{8, 18076}, DivisorCase{1, 13532},
                                           DivisorCase{65535, 18}),
                         [](const ::testing::TestParamInfo<DivisorCase>& test) {
                             return std::to_string(test.param.frequencyHz) + "Hz";
                         });

TEST_F(PortIO, SoundAtZeroHertzOnlyPauses) {
    TPortIO& io = createOpen();
    io.Sound(0, 120);
    EXPECT_THAT(host.calls, ElementsAre("Sleep 120"));
}

TEST_F(PortIO, SoundWithNegativeDurationDoesNotWaitForever) {
    TPortIO& io = createOpen();
    io.Sound(1000, -1);
    EXPECT_THAT(host.calls, Contains("Sleep 0"));
    EXPECT_EQ(host.ports[0x61] & 3, 0) << "speaker switched off again";
}

// Service path.

class PortIOService : public PortIO {
protected:
    PortIOService() { host.version = {2, 5, 1}; }
};

TEST_F(PortIOService, FirstOpenRegistersAndStartsTheDriverWithTheExactArguments) {
    TPortIO& io = create();
    EXPECT_TRUE(io.OpenDriver());
    EXPECT_THAT(host.calls, ElementsAre("OpenSCManager F003F", "FileExists C:\\Work\\Zevado.sys",
                                        "CreateService #100 Zevado Zevado F01FF 1 3 1 "
                                        "C:\\WINDOWS\\SYSTEM\\Zevado.sys",
                                        "CloseServiceHandle #101", "OpenService #100 Zevado F01FF",
                                        "StartService #102", "CloseServiceHandle #102",
                                        "CloseServiceHandle #100",
                                        "CreateFile " + kNtDevice + " C0000000 0 3 80"));
    EXPECT_TRUE(io.ServiceCreated);
    EXPECT_TRUE(io.ServiceStarted);
    EXPECT_EQ(io.LastError, 0u);
    EXPECT_THAT(host.openHandles, ElementsAre(io.DriverHandle()));
}

TEST_F(PortIOService, DriverFileInTheCurrentDirectoryIsRegisteredFirst) {
    host.files = {"C:\\Work\\Zevado.sys", "C:\\WINDOWS\\SYSTEM\\Zevado.sys"};
    EXPECT_TRUE(create().OpenDriver());
    EXPECT_THAT(host.calls, Contains(HasSubstr("F01FF 1 3 1 C:\\Work\\Zevado.sys")));
}

TEST_F(PortIOService, LaterOpenFindsTheServiceThereClearsBothFlagsAndStillOpens) {
    TPortIO& io = createOpen();
    EXPECT_TRUE(io.OpenDriver());
    EXPECT_FALSE(io.ServiceCreated);
    EXPECT_FALSE(io.ServiceStarted);
    EXPECT_EQ(io.LastError, 0u);
    EXPECT_TRUE(io.Opened());
    EXPECT_THAT(host.openHandles, ElementsAre(io.DriverHandle())) << "service handles leaked";
}

TEST_F(PortIOService, RefusedServiceManagerEndsTheOpenWithItsError) {
    host.serviceManagerError = 5;
    TPortIO& io = create();
    EXPECT_FALSE(io.OpenDriver());
    EXPECT_EQ(io.LastError, 5u);
    EXPECT_THAT(host.calls, ElementsAre("OpenSCManager F003F"));
}

TEST_F(PortIOService, FailedRegistrationClosesTheManagerAndEndsTheOpen) {
    host.createServiceError = 1072;
    TPortIO& io = create();
    EXPECT_FALSE(io.OpenDriver());
    EXPECT_EQ(io.LastError, 1072u);
    EXPECT_EQ(host.calls.back(), "CloseServiceHandle #100");
    EXPECT_FALSE(called("OpenService"));
    EXPECT_THAT(host.openHandles, IsEmpty());
}

TEST_F(PortIOService, FailedStartClosesEverythingAndEndsTheOpen) {
    host.startServiceError = 2;
    TPortIO& io = create();
    EXPECT_FALSE(io.OpenDriver());
    EXPECT_EQ(io.LastError, 2u);
    EXPECT_FALSE(called("CreateFile"));
    EXPECT_THAT(host.openHandles, IsEmpty());
    EXPECT_TRUE(io.ServiceStarted);
}

TEST_F(PortIOService, MissingDeviceEndsTheOpenWithItsError) {
    host.devices.clear();
    host.deviceErrors = {{kNtDevice, 21}};
    TPortIO& io = create();
    EXPECT_FALSE(io.OpenDriver());
    EXPECT_EQ(io.LastError, 21u);
    EXPECT_FALSE(io.Opened());
}

// Destruction.

TEST_F(PortIOService, DestroyAfterTheFirstOpenStopsAndRemovesTheService) {
    const platform::Handle device = createOpen().DriverHandle();
    destroy();
    EXPECT_THAT(host.calls, ElementsAre("CloseHandle #" + std::to_string(device),
                                        "OpenSCManager F003F", "OpenService #104 Zevado F01FF",
                                        "ControlService #105 1", "CloseServiceHandle #105",
                                        "OpenService #104 Zevado F01FF", "DeleteService #106",
                                        "CloseServiceHandle #106", "CloseServiceHandle #104"));
    EXPECT_FALSE(host.serviceRunning);
    EXPECT_FALSE(host.serviceRegistered);
    EXPECT_THAT(host.openHandles, IsEmpty());
}

TEST_F(PortIOService, DestroyAfterALaterOpenLeavesTheServiceRunning) {
    EXPECT_TRUE(createOpen().OpenDriver());
    destroy();
    EXPECT_FALSE(called("ControlService"));
    EXPECT_FALSE(called("DeleteService"));
    EXPECT_TRUE(host.serviceRunning);
    EXPECT_TRUE(host.serviceRegistered);
    EXPECT_THAT(host.openHandles, IsEmpty());
}

TEST_F(PortIOService, DestroyStopsWhatItStartedButKeepsAServiceOthersRegistered) {
    host.serviceRegistered = true;
    TPortIO& io = createOpen();
    EXPECT_FALSE(io.ServiceCreated);
    EXPECT_TRUE(io.ServiceStarted);
    destroy();
    EXPECT_TRUE(called("ControlService"));
    EXPECT_FALSE(called("DeleteService"));
    EXPECT_TRUE(host.serviceRegistered);
    EXPECT_FALSE(host.serviceRunning);
}

TEST_F(PortIOService, DestroyWithoutAnOpenLeavesAnotherProgramsServiceAlone) {
    host.serviceRegistered = host.serviceRunning = true;
    create();
    destroy();
    EXPECT_FALSE(called("ControlService"));
    EXPECT_FALSE(called("DeleteService"));
    EXPECT_TRUE(host.serviceRegistered);
    EXPECT_TRUE(host.serviceRunning);
}

TEST_F(PortIO, DestroyOnTheVxdPathOnlyClosesTheDevice) {
    const platform::Handle device = createOpen().DriverHandle();
    destroy();
    EXPECT_THAT(host.calls, ElementsAre("CloseHandle #" + std::to_string(device)));
}

TEST(PortIOOnLinux, OpensTheSimulatedPcThroughTheVxdPathAndDrivesItsPorts) {
    sim::FakeClock clock;
    sim::PcConfig config;
    for (sim::Wiring& wiring : config.com) wiring = sim::Wiring::Unplugged;
    sim::SimulatedPc pc(clock, config);
    platform::LinuxDriverHost host({.backend = platform::PortBackend::Simulated, .pc = &pc});
    TPortIO io(host);
    EXPECT_EQ(io.WindowsKind, 2);
    ASSERT_TRUE(io.OpenDriver());

    io.WritePort(0x3FF, 0xA5);
    EXPECT_EQ(io.ReadPort(0x3FF), 0xA5);
    EXPECT_EQ(io.ReadPort(0x0300), 0xFF);
    io.SpeakerOn(1193);
    EXPECT_NEAR(pc.speakerToneHz().value_or(0), 1000.0, 1.0);
    io.SpeakerOff();
    EXPECT_FALSE(pc.speakerToneHz().has_value());
}

}  // namespace
