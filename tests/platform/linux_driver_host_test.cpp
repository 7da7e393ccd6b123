#include "platform/linux_driver_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "portio/port_io.h"
#include "sim/simulated_pc.h"

namespace {

namespace fs = std::filesystem;
using platform::Handle;
using platform::kInvalidHandle;
using platform::LinuxDriverHost;
using platform::PortAccessFacts;
using platform::PortBackend;
using platform::PortObstacle;

const std::string kVxd = "\\\\.\\zevado.vxd";
const std::string kUnknownWarning =
    "quillmor: QUILLMOR_PORTS=\"xyz\" is not sim, /dev/port or none; running without a port "
    "driver\n";

// Request helpers in the driver's buffer layout.
bool readPort(LinuxDriverHost& host, Handle device, uint32_t code, uint16_t port, uint8_t& value,
              uint32_t* returned = nullptr) {
    const uint8_t request[2] = {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8)};
    uint8_t answer[2] = {0xEE, 0xEE};
    uint32_t count = 99;
    const bool done = host.deviceIoControl(device, code, request, 2, answer, 2, &count);
    value = answer[0];
    if (returned != nullptr) *returned = count;
    return done;
}

bool writePort(LinuxDriverHost& host, Handle device, uint32_t code, uint16_t port, uint8_t value) {
    const uint8_t request[4] = {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8), value,
                                0};
    uint8_t answer[2] = {};
    uint32_t count = 99;
    return host.deviceIoControl(device, code, request, 4, answer, 2, &count);
}

TEST(PortsSetting, KnownValuesPickTheirBackendSilently) {
    const std::vector<std::pair<const char*, PortBackend>> cases = {
        {nullptr, PortBackend::Simulated},
        {"", PortBackend::Simulated},
        {"sim", PortBackend::Simulated},
        {"/dev/port", PortBackend::DevPort},
        {"none", PortBackend::None}};
    for (const auto& [setting, backend] : cases) {
        std::ostringstream warnings;
        EXPECT_EQ(platform::portBackendFromSetting(setting, warnings), backend)
            << (setting ? setting : "(unset)");
        EXPECT_EQ(warnings.str(), "");
    }
}

TEST(PortsSetting, UnknownValueMeansNoDriverAndSaysSoOnOneLine) {
    std::ostringstream warnings;
    EXPECT_EQ(platform::portBackendFromSetting("xyz", warnings), PortBackend::None);
    EXPECT_EQ(warnings.str(), kUnknownWarning);
}

TEST(PortsSetting, ControlCharactersInAnUnknownValueCannotBreakTheLine) {
    std::ostringstream warnings;
    EXPECT_EQ(platform::portBackendFromSetting("a\nb\rc", warnings), PortBackend::None);
    EXPECT_THAT(warnings.str(), ::testing::HasSubstr("\"a?b?c\""));
    EXPECT_EQ(warnings.str().find('\n'), warnings.str().size() - 1);
}

// The program reads the setting at start-up and hands the host what it names.
TEST(PortsSetting, NoneMakesEveryOpenFailAsFileNotFound) {
    LinuxDriverHost host(platform::portBackendFromSetting("none", std::cerr));
    EXPECT_EQ(host.createFile(kVxd, 0, 0, 0, 0), kInvalidHandle);
    EXPECT_EQ(host.lastError(), platform::kErrorFileNotFound);
}

TEST(PortsSetting, UnknownValueWarnsOnceAndOpensNothing) {
    ::testing::internal::CaptureStderr();
    LinuxDriverHost host(platform::portBackendFromSetting("xyz", std::cerr));
    const Handle device = host.createFile(kVxd, 0, 0, 0, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), kUnknownWarning);
    EXPECT_EQ(device, kInvalidHandle);
    EXPECT_EQ(host.lastError(), platform::kErrorFileNotFound);
}

TEST(LinuxDriverHost, ReportsAVxdSystemAndRefusesServiceCalls) {
    LinuxDriverHost host({.backend = PortBackend::None});
    platform::OsVersion version{2, 5, 1};
    ASSERT_TRUE(host.getVersion(148, version));
    EXPECT_EQ(version.platformId, 1u);
    EXPECT_EQ(version.minor, 0u);
    EXPECT_FALSE(host.getVersion(20, version));
    EXPECT_EQ(host.lastError(), platform::kErrorInvalidParameter);

    EXPECT_EQ(host.openServiceManager(0xF003F), 0u);
    EXPECT_EQ(host.lastError(), platform::kErrorNotSupported);
    EXPECT_EQ(host.createService(1, "Zevado", "Zevado", 0xF01FF, 1, 3, 1, "/x"), 0u);
    EXPECT_EQ(host.openService(1, "Zevado", 0xF01FF), 0u);
    EXPECT_FALSE(host.startService(1));
    EXPECT_FALSE(host.controlService(1, 1));
    EXPECT_FALSE(host.deleteService(1));
    EXPECT_EQ(host.lastError(), platform::kErrorNotSupported);
}

TEST(LinuxDriverHost, DirectoriesAndFileTest) {
    LinuxDriverHost host({.backend = PortBackend::None});
    EXPECT_EQ(host.currentDirectory(), fs::current_path().string());
    EXPECT_EQ(host.systemDirectory(), "/usr/lib/quillmor");
    EXPECT_TRUE(host.fileExists(fs::current_path().string()));
    EXPECT_FALSE(host.fileExists("/nonexistent/quillmor/Zevado.sys"));
}

class LinuxHostOnSim : public ::testing::Test {
protected:
    static sim::PcConfig unplugged() {
        sim::PcConfig config;
        for (sim::Wiring& wiring : config.com) wiring = sim::Wiring::Unplugged;
        return config;
    }
    Handle open() { return host.createFile(kVxd, 0, 0, 0, 0); }

    sim::FakeClock clock;
    sim::SimulatedPc pc{clock, unplugged()};
    LinuxDriverHost host{{.backend = PortBackend::Simulated, .pc = &pc}};
};

TEST_F(LinuxHostOnSim, BothDevicePathsOpenInAnyCaseAndOthersDoNot) {
    EXPECT_NE(host.createFile(kVxd, 0, 0, 0, 0), kInvalidHandle);
    EXPECT_NE(host.createFile("\\\\.\\ZEVADO.VXD", 0, 0, 0, 0), kInvalidHandle);
    EXPECT_NE(host.createFile("\\\\.\\/usr/lib/quillmor\\zevado.vxd", 0, 0, 0, 0), kInvalidHandle);
    for (const std::string path : {"\\\\.\\Zevado", "zevado.vxd", "/dev/port", "\\\\.\\zevado"}) {
        EXPECT_EQ(host.createFile(path, 0xC0000000, 0, 3, 0x80), kInvalidHandle) << path;
        EXPECT_EQ(host.lastError(), platform::kErrorFileNotFound);
    }
}

TEST_F(LinuxHostOnSim, Com1ScratchReadsBackAndUnclaimedPortFloatsHigh) {
    const Handle device = open();
    ASSERT_TRUE(writePort(host, device, platform::kVxdWriteCode, 0x3FF, 0x5A));
    uint8_t value = 0;
    uint32_t returned = 0;
    ASSERT_TRUE(readPort(host, device, platform::kVxdReadCode, 0x3FF, value, &returned));
    EXPECT_EQ(value, 0x5A);
    EXPECT_EQ(returned, 2u);
    ASSERT_TRUE(readPort(host, device, platform::kVxdReadCode, 0x0300, value));
    EXPECT_EQ(value, 0xFF);
}

TEST_F(LinuxHostOnSim, NtDriverCodesReachTheSamePorts) {
    const Handle device = open();
    ASSERT_TRUE(writePort(host, device, platform::kServiceWriteCode, 0x2FF, 0xC3));
    uint8_t value = 0;
    ASSERT_TRUE(readPort(host, device, platform::kServiceReadCode, 0x2FF, value));
    EXPECT_EQ(value, 0xC3);
    EXPECT_EQ(pc.in(0x2FF), 0xC3);
}

TEST_F(LinuxHostOnSim, MalformedRequestsAreRefusedAsInvalidParameter) {
    const Handle device = open();
    const uint8_t request[4] = {0xFF, 0x03, 0x11, 0};
    uint8_t answer[2] = {};
    uint32_t count = 99;
    struct Case {
        const char* what;
        uint32_t code;
        const void* in;
        uint32_t inSize;
        void* out;
        uint32_t outSize;
    };
    for (const Case& c : {Case{"unknown code", 0x22, request, 4, answer, 2},
                          Case{"short read request", 2, request, 1, answer, 2},
                          Case{"short read answer", 2, request, 2, answer, 1},
                          Case{"no read answer", 2, request, 2, nullptr, 2},
                          Case{"short write request", 3, request, 3, answer, 2},
                          Case{"no request", 3, nullptr, 4, answer, 2}}) {
        EXPECT_FALSE(host.deviceIoControl(device, c.code, c.in, c.inSize, c.out, c.outSize, &count))
            << c.what;
        EXPECT_EQ(host.lastError(), platform::kErrorInvalidParameter) << c.what;
        EXPECT_EQ(count, 0u) << c.what;
    }
    EXPECT_NE(pc.in(0x3FF), 0x11) << "a refused write reached the port";
}

TEST_F(LinuxHostOnSim, SeveralOpensLiveSideBySideAndClosedOnesStayDead) {
    const Handle first = open();
    const Handle second = open();
    ASSERT_NE(first, second);
    ASSERT_TRUE(host.closeHandle(first));
    const Handle third = open();
    uint8_t value = 0;
    EXPECT_FALSE(readPort(host, first, platform::kVxdReadCode, 0x3FF, value));
    EXPECT_EQ(host.lastError(), platform::kErrorInvalidHandle);
    EXPECT_TRUE(readPort(host, second, platform::kVxdReadCode, 0x3FF, value));
    EXPECT_TRUE(readPort(host, third, platform::kVxdReadCode, 0x3FF, value));
    EXPECT_NE(third, first) << "a reused slot must not revive the closed handle";

    EXPECT_FALSE(host.closeHandle(first));
    EXPECT_EQ(host.lastError(), platform::kErrorInvalidHandle);
    EXPECT_FALSE(host.closeHandle(kInvalidHandle));
    EXPECT_FALSE(host.closeHandle(12345));
    EXPECT_FALSE(host.closeServiceHandle(second));
    EXPECT_TRUE(host.closeHandle(second));
    EXPECT_TRUE(host.closeHandle(third));
}

TEST_F(LinuxHostOnSim, RunningOutOfHandlesFailsCleanly) {
    std::vector<Handle> handles;
    for (Handle device = open(); device != kInvalidHandle; device = open()) {
        handles.push_back(device);
        ASSERT_LT(handles.size(), 1000u);
    }
    EXPECT_EQ(host.lastError(), platform::kErrorTooManyOpenFiles);
    EXPECT_GE(handles.size(), 4u);
    ASSERT_TRUE(host.closeHandle(handles.front()));
    EXPECT_NE(open(), kInvalidHandle);
}

// The kernel's port device, replaced by files the tests own.
class LinuxHostOnPortFile : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/quillmor-portio-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

TEST_F(LinuxHostOnPortFile, RefusedDeviceOpenReportsErrnoAndSaysWhyOnce) {
    const std::string device = dir_ / "port";
    LinuxDriverHost missing({.backend = PortBackend::DevPort, .portDevice = device});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(missing.createFile(kVxd, 0, 0, 0, 0), kInvalidHandle);
    EXPECT_EQ(missing.createFile(kVxd, 0, 0, 0, 0), kInvalidHandle);
    const std::string why = "quillmor: real ports cannot be reached: " + device +
                            " does not exist in this kernel or container";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), why + "\n");
    EXPECT_EQ(missing.openFailureReason(), why);
    EXPECT_EQ(missing.lastError(), static_cast<uint32_t>(ENOENT));

    // A folder cannot be opened for writing, whoever runs the test.
    LinuxDriverHost folder({.backend = PortBackend::DevPort, .portDevice = dir_});
    EXPECT_EQ(folder.createFile(kVxd, 0, 0, 0, 0), kInvalidHandle);
    EXPECT_EQ(folder.lastError(), static_cast<uint32_t>(EISDIR));
}

// The kernel refuses /dev/port with EPERM both to a process without CAP_SYS_RAWIO and, under
// lockdown, to root; only the lockdown file tells the two apart.
TEST_F(LinuxHostOnPortFile, LockdownFileDecidesWhatARefusalMeans) {
    const std::string file = dir_ / "lockdown";
    const auto refusal = [&](const char* modes) {
        std::ofstream(file) << modes;
        return platform::portDeviceTrouble("/dev/port", EPERM, file);
    };
    EXPECT_EQ(refusal("none [integrity] confidentiality\n"),
              "quillmor: real ports cannot be reached: /dev/port: kernel lockdown (integrity) "
              "forbids it, see " +
                  file);
    EXPECT_EQ(platform::activeLockdown(file), "integrity");
    EXPECT_EQ(platform::activeLockdown((dir_ / "absent").string()), "");
    for (const char* unlocked : {"[none] integrity confidentiality\n", ""}) {
        EXPECT_EQ(refusal(unlocked),
                  "quillmor: real ports cannot be reached: /dev/port: not permitted without the "
                  "CAP_SYS_RAWIO capability");
    }
}

TEST_F(LinuxHostOnPortFile, PortNumberIsTheFileOffset) {
    const fs::path file = dir_ / "port";
    std::string bytes(0x400, '\0');
    bytes[0x2F9] = '\x5C';
    std::ofstream(file, std::ios::binary) << bytes;

    LinuxDriverHost host({.backend = PortBackend::DevPort, .portDevice = file});
    const Handle device = host.createFile(kVxd, 0, 0, 0, 0);
    ASSERT_NE(device, kInvalidHandle);
    uint8_t value = 0;
    ASSERT_TRUE(readPort(host, device, platform::kVxdReadCode, 0x2F9, value));
    EXPECT_EQ(value, 0x5C);
    ASSERT_TRUE(writePort(host, device, platform::kServiceWriteCode, 0x1A3, 0xAB));
    ASSERT_TRUE(host.closeHandle(device));

    std::ifstream in(file, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(after.size(), 0x400u);
    EXPECT_EQ(static_cast<uint8_t>(after[0x1A3]), 0xAB);
    EXPECT_EQ(after.substr(0, 0x1A3), bytes.substr(0, 0x1A3));
}

TEST_F(LinuxHostOnPortFile, ReadPastTheDeviceEndFailsInsteadOfInventingAValue) {
    const fs::path file = dir_ / "port";
    std::ofstream(file, std::ios::binary) << std::string(16, '\0');
    LinuxDriverHost host({.backend = PortBackend::DevPort, .portDevice = file});
    const Handle device = host.createFile(kVxd, 0, 0, 0, 0);
    uint8_t value = 0;
    EXPECT_FALSE(readPort(host, device, platform::kVxdReadCode, 0x3F8, value));
    EXPECT_EQ(host.lastError(), static_cast<uint32_t>(EIO));
}

// Root opens any file whatever its mode. To meet a refused open as a user does, the thread
// lays down the two capabilities that override file modes for as long as this lives; it keeps
// them in its permitted set, so they come back.
class WithoutFileModeOverride {
public:
    WithoutFileModeOverride() {
        if (!call(SYS_capget)) return;
        saved_[0] = data_[0];
        data_[0].effective &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
        call(SYS_capset);
    }
    ~WithoutFileModeOverride() {
        data_[0] = saved_[0];
        call(SYS_capset);
    }
    WithoutFileModeOverride(const WithoutFileModeOverride&) = delete;
    WithoutFileModeOverride& operator=(const WithoutFileModeOverride&) = delete;

private:
    bool call(long which) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(which, &header, data_) == 0;
    }
    __user_cap_data_struct data_[2]{};
    __user_cap_data_struct saved_[1]{};
};

// The whole way a user without the right to open the port device takes: the host's own open is
// refused, the helper opens its device and sends the descriptor back, and TPortIO reads and
// writes ports through it. Where no helper answers, the refusal stays what the user sees.
TEST_F(LinuxHostOnPortFile, RefusedDeviceIsReachedThroughTheHelpersDescriptor) {
    const fs::path refused = dir_ / "port";
    std::ofstream(refused) << "not to be read";
    fs::permissions(refused, fs::perms::none);
    std::string bytes(0x400, '\0');
    bytes[0x2F9] = '\x5C';
    std::ofstream(QUILLMOR_TEST_PORT_STANDIN, std::ios::binary) << bytes;
    WithoutFileModeOverride asAUser;

    LinuxDriverHost host({.backend = PortBackend::DevPort,
                          .portDevice = refused,
                          .portHelper = QUILLMOR_TEST_PORT_HELPER});
    portio::TPortIO port(host);
    ASSERT_TRUE(port.OpenDriver()) << "error " << port.LastError;
    EXPECT_EQ(port.ReadPort(0x2F9), 0x5C);
    port.WritePort(0x1A3, 0xAB);
    EXPECT_EQ(port.LastError, 0u);
    port.CloseDriver();
    std::ifstream in(QUILLMOR_TEST_PORT_STANDIN, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), {});
    ASSERT_EQ(after.size(), 0x400u);
    EXPECT_EQ(static_cast<uint8_t>(after[0x1A3]), 0xAB);

    for (const std::string& helper :
         {(dir_ / "no-helper").string(), std::string("/bin/false"), std::string("/bin/true")}) {
        LinuxDriverHost without(
            {.backend = PortBackend::DevPort, .portDevice = refused, .portHelper = helper});
        portio::TPortIO alone(without);
        EXPECT_FALSE(alone.OpenDriver()) << helper;
        EXPECT_EQ(alone.LastError, static_cast<uint32_t>(EACCES)) << helper;
    }
}

// What the user is told to do follows from who they are: the advice for a user outside the
// group would not help a member whose session began before joining, and none helps under
// lockdown.
TEST(PortAccess, EachObstacleFollowsFromWhatWasFound) {
    const auto judged = [](const PortAccessFacts& facts) {
        return platform::judgePortAccess(facts).obstacle;
    };
    PortAccessFacts facts;
    facts.device = "/dev/port";
    EXPECT_EQ(judged(facts), PortObstacle::None);
    facts.error = ENOENT;
    EXPECT_EQ(judged(facts), PortObstacle::NoDevice);

    PortAccessFacts member = facts;
    member.error = EACCES;
    member.helperInstalled = member.groupExists = member.listedInGroup = member.groupActive = true;
    EXPECT_EQ(judged(member), PortObstacle::HelperFailed);
    facts = member;
    facts.groupActive = false;
    EXPECT_EQ(judged(facts), PortObstacle::GroupNotActive);
    facts.listedInGroup = false;
    EXPECT_EQ(judged(facts), PortObstacle::NotInGroup);
    facts.groupExists = false;
    EXPECT_EQ(judged(facts), PortObstacle::HelperNotSetUp);
    facts.helperInstalled = false;
    EXPECT_EQ(judged(facts), PortObstacle::NoHelper);
    facts.runningAsRoot = true;
    facts.error = EPERM;
    EXPECT_EQ(judged(facts), PortObstacle::NoRawIo);
    facts.lockdown = "integrity";
    EXPECT_EQ(judged(facts), PortObstacle::Lockdown);
    EXPECT_EQ(platform::judgePortAccess(facts).detail, "integrity");
    member.lockdown = "confidentiality";
    EXPECT_EQ(judged(member), PortObstacle::Lockdown) << "a member is refused under lockdown too";
}

}  // namespace
