#include "platform/serial_port_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A fake /sys with a class/tty folder in a fresh temporary directory.
class SerialPortList : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("quillmor-sysfs-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "class" / "tty");
    }
    void TearDown() override { fs::remove_all(root_); }

    // A tty entry; withDevice gives it the "device" link a real serial device has, uartType
    // (when not empty) is written to its "type" attribute as the 8250 driver does.
    void addTty(const std::string& name, bool withDevice, const std::string& uartType = "") {
        const fs::path dir = root_ / "class" / "tty" / name;
        fs::create_directories(dir);
        if (withDevice) fs::create_directories(dir / "device");
        if (!uartType.empty()) std::ofstream(dir / "type") << uartType << "\n";
    }

    std::string root() const { return root_.string(); }

    fs::path root_;
};

TEST_F(SerialPortList, PlaceholderUartsAndVirtualTerminalsAreLeftOut) {
    addTty("ttyS0", true, "4");
    addTty("ttyS1", true, "0");
    addTty("ttyS2", true, "0");
    addTty("tty0", false);
    addTty("ptmx", false);
    addTty("ttyUSB0", true);
    EXPECT_THAT(platform::serialPortNames(root(), false),
                ElementsAre("/dev/ttyS0", "/dev/ttyUSB0"));
}

TEST_F(SerialPortList, NumbersSortNumericallyNotAsText) {
    addTty("ttyS10", true, "4");
    addTty("ttyS2", true, "4");
    addTty("ttyACM0", true);
    addTty("ttyS1", true, "4");
    EXPECT_THAT(platform::serialPortNames(root(), false),
                ElementsAre("/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10"));
}

TEST_F(SerialPortList, SimulatedPortsComeFirstWhenTheSimulatedPcIsTheBackend) {
    addTty("ttyS0", true, "4");
    EXPECT_THAT(platform::serialPortNames(root(), true),
                ElementsAre("COM1", "COM2", "COM3", "COM4", "/dev/ttyS0"));
}

TEST_F(SerialPortList, MissingSysfsGivesAnEmptyListInsteadOfFailing) {
    EXPECT_THAT(platform::serialPortNames(root() + "/absent", false), IsEmpty());
    EXPECT_THAT(platform::serialPortNames(root() + "/absent", true),
                ElementsAre("COM1", "COM2", "COM3", "COM4"));
}

}  // namespace
