// The timeline on real ports: the program's main window (off screen) polls COM2 of the guest
// machine through /dev/port and records it, while a program opens /dev/ttyS1, sends on it and
// closes it through the kernel's own 8250 driver. The export must show what the driver did to
// the modem control lines, in order: DTR, RTS and OUT2 up at the opening, down at the closing.
// (QEMU's 16550 sends a byte at once, so the transmitter's bits show nothing of the sending.)
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <thread>

#include "app/main_window.h"
#include "com2.h"
#include "monitor/register_monitor.h"
#include "platform/linux_driver_host.h"
#include "timeline/export.h"
#include "timeline/recording.h"
#include "tty_talker.h"
#include "vcd_reader.h"

namespace {

TEST(TimelineOnCom2, DriverRaisesDtrRtsOut2AtOpeningAndDropsThemAtClosingInOrder) {
    QTemporaryDir settings;
    ASSERT_TRUE(settings.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    QSettings(settings.filePath("Quillmor/user.ini"), QSettings::IniFormat).setValue("Speeker", 0);
    platform::LinuxDriverHost host{platform::PortBackend::DevPort};
    app::TForm1 window(host, [] { return std::vector<std::string>{}; });
    timeline::Recording recording(window.registerMonitor(), {});
    window.show();
    QTest::qWait(50);
    auto* presets = window.findChild<QComboBox*>("ComboBox1");
    const int com2 = presets->findText("COM2");
    presets->setCurrentIndex(com2);
    emit presets->activated(com2);
    ASSERT_EQ(window.registerMonitor().baseAddress(), hardware_test::kCom2);
    QTest::qWait(200);
    // The block's lanes hold what the poll read before the preset changed too (COM1, the
    // guest's console, with its DTR up): started afresh, as a user would with "Очистить".
    recording.recorder().clear();

    std::atomic<bool> done = false;
    hardware_test::Transfer transfer;
    std::thread talker([&] {
        transfer = hardware_test::talkThroughTtyS1(32, std::chrono::milliseconds(200));
        done = true;
    });
    while (!done) QTest::qWait(5);
    talker.join();
    QTest::qWait(100);
    ASSERT_TRUE(transfer.opened) << "no /dev/ttyS1";

    const std::string path = settings.filePath("com2.vcd").toStdString();
    {
        std::ofstream file(path);
        auto out = timeline::vcdExport(recording.recorder(), timeline::allLanes(true),
                                       {.programVersion = "guest"});
        while (!out->done()) file << out->next(10'000);
    }
    const timeline_test::VcdFile vcd = timeline_test::readVcd(path);
    // The last change of each line before the closing is its rise, the closing its fall.
    int64_t latestRise = 0, earliestFall = INT64_MAX;
    for (const char* line : {"MCR_DTR", "MCR_RTS", "MCR_OUT2"}) {
        const std::vector<int64_t> rises = vcd.timesOf(line, "1");
        const std::vector<int64_t> falls = vcd.timesOf(line, "0");
        ASSERT_EQ(rises.size(), 1u) << line;
        ASSERT_FALSE(falls.empty()) << line;
        EXPECT_GT(falls.back(), rises[0]) << line;
        std::printf("%s up at %lld us, down at %lld us\n", line, static_cast<long long>(rises[0]),
                    static_cast<long long>(falls.back()));
        latestRise = std::max(latestRise, rises[0]);
        earliestFall = std::min(earliestFall, falls.back());
    }
    EXPECT_LT(latestRise, earliestFall) << "all three up before any goes down";
    // The driver enabled the receiver's interrupt while the port was open, and took it back.
    const std::vector<int64_t> enabled = vcd.timesOf("IER_ERBFI", "1");
    const std::vector<int64_t> disabled = vcd.timesOf("IER_ERBFI", "0");
    ASSERT_EQ(enabled.size(), 1u);
    ASSERT_FALSE(disabled.empty());
    EXPECT_LT(enabled[0], earliestFall);
    EXPECT_GT(disabled.back(), enabled[0]);
}

}  // namespace
