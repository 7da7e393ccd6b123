#include "platform/port_catalog.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "pseudo_terminal.h"

namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::IsEmpty;

bool readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

// A /dev of the test's own, whose serial links point at the kernel's pseudo-terminals; udev is
// left out so the machine's own ports do not come into it.
class PortCatalog : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("quillmor-dev-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        places_ = {root_.string(), false};
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path link(const std::string& folder, const std::string& name, const fs::path& target) {
        fs::create_directories(root_ / "serial" / folder);
        const fs::path path = root_ / "serial" / folder / name;
        fs::create_symlink(target, path);
        return path;
    }

    fs::path root_;
    platform::CatalogPlaces places_;
};

TEST_F(PortCatalog, LinksNameTheirDeviceAndLinksToNothingUsableAreLeftOut) {
    commtest::PseudoTerminal adapter;
    const fs::path byId = link("by-id", "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", adapter.path);
    const fs::path byPath = link("by-path", "pci-0000:00:1d.0-usb-0:1.2:1.0-port0", adapter.path);
    link("by-id", "usb-Gone_Adapter_X-if00-port0", root_ / "ttyUSB9");
    std::ofstream(root_ / "plain-file") << "not a device\n";
    link("by-id", "usb-Not_A_Device-if00-port0", root_ / "plain-file");

    const auto ports = platform::listPorts(places_);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].device, adapter.path);
    EXPECT_THAT(ports[0].byId, ElementsAre(byId.string()));
    EXPECT_THAT(ports[0].byPath, ElementsAre(byPath.string()));
    EXPECT_EQ(ports[0].stableName(), byId.string());
    // This process has the line open through its slave.
    EXPECT_THAT(ports[0].holders, Contains(Field(&platform::PortHolder::pid, ::getpid())));
    EXPECT_EQ(platform::findPort(ports, byPath.string()), &ports[0]);
    EXPECT_EQ(platform::findPort(ports, adapter.path), &ports[0]);
    EXPECT_EQ(platform::findPort(ports, (root_ / "ttyUSB9").string()), nullptr);
}

// A port that another program has locked, as tio and this program lock theirs, names that
// program even when it no longer has the device open by the path the list shows.
TEST_F(PortCatalog, ProcessHoldingTheLockIsNamed) {
    commtest::PseudoTerminal line;
    std::vector<platform::PortHolder> holders;
    pid_t holder = 0;
    {
        commtest::LockingProcess locker(line.path);
        ASSERT_TRUE(locker.locked);
        holder = locker.pid;
        holders = platform::portHolders(line.path);
    }
    EXPECT_THAT(holders, Contains(Field(&platform::PortHolder::pid, holder)));
    EXPECT_THAT(holders, Contains(Field(&platform::PortHolder::name, ::testing::Not(IsEmpty()))));
}

// Links come and go with the adapters: each wakes the watch, and the list follows. A hundred
// pseudo-terminals made and closed wake nobody.
TEST_F(PortCatalog, WatchWakesForSerialLinksOnlyAndListFollowsThem) {
    platform::PortWatch watch(places_);
    for (int i = 0; i < 100; ++i) commtest::PseudoTerminal passing;
    EXPECT_FALSE(readable(watch.fd(), 100));

    commtest::PseudoTerminal adapter;
    const fs::path byId = link("by-id", "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", adapter.path);
    ASSERT_TRUE(readable(watch.fd(), 2000));
    EXPECT_TRUE(watch.takeChanges());
    EXPECT_EQ(platform::listPorts(places_).size(), 1u);

    fs::remove(byId);
    ASSERT_TRUE(readable(watch.fd(), 2000));
    EXPECT_TRUE(watch.takeChanges());
    EXPECT_THAT(platform::listPorts(places_), IsEmpty());
    EXPECT_FALSE(readable(watch.fd(), 0));
}

platform::PortInfo usbAdapter(const std::string& node, const std::string& serial,
                              const std::string& socket) {
    platform::PortInfo port;
    port.device = node;
    port.vendorId = "0403";
    port.productId = "6001";
    port.serial = serial;
    port.usbSocket = socket;
    return port;
}

// An adapter is known again by what it is, not by the node it had: another adapter of the same
// kind may take that node while the first is out.
TEST(PortIdentity, SameAdapterIsKnownUnderAnotherNodeAndAnotherIsNotTakenForIt) {
    const auto withSerial = platform::PortIdentity::of(usbAdapter("/dev/ttyUSB0", "A1", "1-1"));
    EXPECT_TRUE(withSerial.matches(usbAdapter("/dev/ttyUSB1", "A1", "1-2")));
    EXPECT_FALSE(withSerial.matches(usbAdapter("/dev/ttyUSB0", "B7", "1-1")));

    const auto noSerial = platform::PortIdentity::of(usbAdapter("/dev/ttyUSB0", "", "1-1"));
    EXPECT_TRUE(noSerial.matches(usbAdapter("/dev/ttyUSB3", "", "1-1")));
    EXPECT_FALSE(noSerial.matches(usbAdapter("/dev/ttyUSB0", "", "1-2")));

    platform::PortInfo uart;
    uart.device = "/dev/ttyS4";
    uart.ioPort = 0xc000;
    EXPECT_TRUE(platform::PortIdentity::of(uart).matches(uart));
    EXPECT_FALSE(platform::PortIdentity::of(uart).matches(usbAdapter("/dev/ttyS4", "", "1-1")));
}

}  // namespace
