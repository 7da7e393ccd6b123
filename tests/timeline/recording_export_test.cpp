// The simulated PC's COM1 and COM2 on their null-modem cable, recorded as a user would make a
// recording: the register monitor watches COM1, the terminal page opens Com2 (the other end),
// lines are raised and dropped, bytes go both ways, COM1 sends a break and a byte in another
// frame. The recording is exported and read back by the tools people open it in: libsigrok
// (sigrok-cli, PulseView's reader) and GTKWave's converters.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "monitor/register_monitor.h"
#include "monitor/register_table.h"
#include "platform/linux_driver_host.h"
#include "terminal/terminal_page.h"
#include "timeline/export.h"
#include "timeline/recording.h"
#include "vcd_reader.h"

namespace {

using timeline_test::readVcd;
using timeline_test::run;
using timeline_test::VcdFile;

class RecordingExport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        window =
            std::make_unique<app::TForm1>(simulatedPc, [] { return std::vector<std::string>{}; });
        terminal::TerminalPage& page = window->terminalPage();
        recording = std::make_unique<timeline::Recording>(
            window->registerMonitor(),
            timeline::PortFeed{&page.Comm1(), [this] { return action("NRTS")->isChecked(); },
                               [this] { return action("NDTR")->isChecked(); }});
        window->show();
        pumpUntil([&] { return window->registerMonitor().timer()->isActive(); });
        action("N22")->setChecked(false);  // the tones block and tell nothing here
    }

    QAction* action(const char* name) { return window->findChild<QAction*>(name); }
    template <class T>
    T* child(const char* name) {
        T* widget = window->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void click(const char* button) { child<QToolButton>(button)->click(); }
    void pick(const char* box, const QString& item) {
        QComboBox* list = child<QComboBox>(box);
        list->setCurrentIndex(list->findText(item));
        emit list->activated(list->currentIndex());
    }
    // Writes a byte into COM1's register at offset through the monitor's write boxes.
    void writeCom1(int offset, const char* hex) {
        const monitor::RegisterRow& row = monitor::kRegisterRows[offset];
        child<QLineEdit>(std::string(row.hexWriteBox).c_str())->setText(QString::fromLatin1(hex));
        click(monitor::hexWriteButtonName(offset).c_str());
    }
    int com1(int offset) {
        const monitor::RegisterRow& row = monitor::kRegisterRows[offset];
        return child<QLineEdit>(std::string(row.hexReadBack).c_str())
            ->text()
            .mid(1)
            .toInt(nullptr, 16);
    }
    static bool pumpUntil(const std::function<bool()>& done, int ms = 5000) {
        QElapsedTimer since;
        since.start();
        while (!done()) {
            if (since.elapsed() > ms) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }
    static void pumpFor(int ms) {
        pumpUntil([] { return false; }, ms);
    }
    std::string exportTo(const char* name, const timeline::ExportOptions& options, bool vcd) {
        const std::vector<timeline::Lane> lanes = timeline::allLanes(recording->uartBlock());
        std::unique_ptr<timeline::Export> out =
            vcd ? timeline::vcdExport(recording->recorder(), lanes, options)
                : timeline::csvExport(recording->recorder(), lanes);
        const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
        std::ofstream file(path);
        while (!out->done()) file << out->next(1000);
        return path;
    }

    QTemporaryDir dir;
    platform::LinuxDriverHost simulatedPc{platform::LinuxDriverHostConfig{}};
    std::unique_ptr<app::TForm1> window;
    std::unique_ptr<timeline::Recording> recording;
};

TEST_F(RecordingExport, LinesDataBreakAndFrameErrorReadBackBySigrokAndGtkwaveAtTheirTimes) {
    ASSERT_TRUE(recording->uartBlock()) << "the monitor starts on COM1";
    // COM1 at Com2's 9600 bit/s, 8N1, FIFO on, its own RTS and DTR down.
    writeCom1(3, "$83");
    writeCom1(0, "$0C");
    writeCom1(1, "$00");
    writeCom1(3, "$03");
    writeCom1(2, "$01");
    writeCom1(4, "$00");

    pick("ComboBox6", QStringLiteral("Нет"));
    action("NRTS")->setChecked(true);
    action("NDTR")->setChecked(true);
    child<QComboBox>("ComboBox2")->setEditText(QStringLiteral("Com2"));
    click("SpeedButton1");  // open: Com2 raises RTS and DTR, COM1 sees CTS, DSR and DCD
    ASSERT_TRUE(window->terminalPage().Comm1().IsOpen());
    ASSERT_TRUE(pumpUntil([&] { return (com1(6) & 0xB0) == 0xB0; }));

    // COM1 raises DTR and RTS and drops them again: Com2's DSR, RLSD and CTS follow.
    // Long enough that the port's handlers, which read the lines when they run, see each level.
    writeCom1(4, "$03");
    pumpFor(150);
    writeCom1(4, "$00");
    pumpFor(150);

    child<QLineEdit>("Edit43")->setText(QStringLiteral("AT"));
    click("SpeedButton2");  // "AT" CR LF to COM1
    pumpFor(50);
    writeCom1(3, "$43");  // COM1 holds its line spacing: a break
    pumpFor(20);
    writeCom1(3, "$03");
    pumpFor(20);
    writeCom1(0, "$4F");  // "O" in 8N1
    pumpFor(20);
    writeCom1(3, "$1B");  // 8E1: Com2 (8N1) misses the stop bit
    writeCom1(0, "$55");
    pumpFor(20);
    writeCom1(3, "$03");
    pumpFor(50);

    click("SpeedButton1");  // close: RTS and DTR fall
    ASSERT_TRUE(pumpUntil([&] { return (com1(6) & 0xB0) == 0; }));
    pumpFor(50);  // the recording sees the closing
    recording->pullTraffic();

    // GTKWave: VCD to FST and back.
    const std::string vcd =
        exportTo("full.vcd", {.bitsOnly = false, .programVersion = "test"}, true);
    const std::string fst = dir.filePath(QStringLiteral("full.fst")).toStdString();
    const std::string back = dir.filePath(QStringLiteral("back.vcd")).toStdString();
    const auto [toFst, toFstOutput] = run("vcd2fst '" + vcd + "' '" + fst + "'");
    ASSERT_EQ(toFst, 0) << toFstOutput;
    const auto [toVcd, toVcdOutput] = run("fst2vcd '" + fst + "' > '" + back + "'");
    ASSERT_EQ(toVcd, 0) << toVcdOutput;
    const VcdFile ours = readVcd(vcd);
    const VcdFile gtkwave = readVcd(back);
    EXPECT_EQ(ours.timescale, "1us");
    EXPECT_EQ(gtkwave.variables.size(), ours.variables.size());

    // The port's lines: raised at the opening, down at the closing, in that order; COM1 saw
    // them as CTS, DSR and DCD, at a tick after the port raised them. The closing is seen by
    // the recording's next look at the port, up to 20 ms after COM1's tick saw it.
    for (const char* line : {"RTS", "DTR"}) {
        EXPECT_EQ(gtkwave.changes(line), (std::vector<std::string>{"x", "1", "0"})) << line;
        ASSERT_EQ(gtkwave.timesOf(line, "1").size(), 1u) << line;
    }
    const int64_t raised = gtkwave.timesOf("RTS", "1")[0];
    const int64_t dropped = gtkwave.timesOf("RTS", "0")[0];
    for (const char* seen : {"MSR_CTS", "MSR_DSR", "MSR_DCD"}) {
        const std::vector<int64_t> rises = gtkwave.timesOf(seen, "1");
        const std::vector<int64_t> falls = gtkwave.timesOf(seen, "0");
        ASSERT_FALSE(rises.empty()) << seen;
        ASSERT_FALSE(falls.empty()) << seen;
        EXPECT_GE(rises.front(), raised) << seen;
        EXPECT_LT(rises.front(), raised + 1'000'000) << seen;
        EXPECT_NEAR(falls.back(), dropped, 25'000) << seen;
    }
    // COM1's own DTR and RTS pulse, and the port's DSR, RLSD and CTS follow them while open:
    // within the ticks it takes the monitor to see COM1's write.
    EXPECT_EQ(gtkwave.changes("MCR_DTR"), (std::vector<std::string>{"x", "0", "1", "0"}));
    for (const char* line : {"DSR", "RLSD", "CTS"}) {
        const std::vector<int64_t> rises = gtkwave.timesOf(line, "1");
        ASSERT_EQ(rises.size(), 1u) << line;
        EXPECT_NEAR(rises[0], gtkwave.timesOf("MCR_DTR", "1")[0], 20'000) << line;
    }

    // The data: what the terminal sent, what COM1 sent, each byte for its instant.
    const auto bytes = [&](const char* lane) {
        std::vector<std::string> out;
        for (const std::string& v : gtkwave.changes(lane))
            if (v != "zzzzzzzz" && v != "xxxxxxxx") out.push_back(v);
        return out;
    };
    EXPECT_EQ(bytes("TX"), (std::vector<std::string>{"01000001", "01010100", "00001101",
                                                     "00001010"}));  // "AT" CR LF
    const std::vector<std::string> received = bytes("RX");
    EXPECT_NE(std::find(received.begin(), received.end(), "01001111"), received.end())
        << "O among " << ::testing::PrintToString(received);
    ASSERT_EQ(gtkwave.timesOf("BREAK", "1").size(), 1u);
    ASSERT_GE(gtkwave.timesOf("FRAMING", "1").size(), 1u);
    EXPECT_LT(gtkwave.timesOf("BREAK", "1")[0], gtkwave.timesOf("FRAMING", "1")[0]);
    EXPECT_EQ(gtkwave.timesOf("BREAK", "0").back(), gtkwave.timesOf("BREAK", "1")[0] + 1)
        << "an event shows for 1 us";
    EXPECT_GT(gtkwave.lastTime, gtkwave.timesOf("RTS", "0")[0]);

    // libsigrok: the file with only wires, sampled at 1 MHz, its channels counted, and some
    // written out as samples: their edges come back at the times GTKWave read.
    const std::string bits =
        exportTo("bits.vcd", {.bitsOnly = true, .programVersion = "test"}, true);
    const auto [shown, shownOutput] = run("sigrok-cli -I vcd -i '" + bits + "' --show");
    ASSERT_EQ(shown, 0) << shownOutput;
    EXPECT_NE(shownOutput.find("Channels: " + std::to_string(readVcd(bits).variables.size())),
              std::string::npos)
        << shownOutput;
    const std::vector<const char*> checked = {"RTS",     "DTR", "MSR_CTS", "MSR_DCD",
                                              "MCR_DTR", "CTS", "BREAK"};
    std::string channels = "TX_D6";
    for (const char* lane : checked) channels += std::string(",") + lane;
    const auto [sigrok, samples] =
        run("sigrok-cli -I vcd -i '" + bits + "' -C " + channels + " -O csv");
    ASSERT_EQ(sigrok, 0) << samples.substr(0, 2000);
    const VcdFile sigrokFile = timeline_test::readSigrokCsv(samples);
    for (const char* lane : checked) {
        EXPECT_EQ(sigrokFile.timesOf(lane, "1"), gtkwave.timesOf(lane, "1")) << lane;
        EXPECT_EQ(sigrokFile.timesOf(lane, "0").back(), gtkwave.timesOf(lane, "0").back()) << lane;
    }
    EXPECT_EQ(sigrokFile.lastTime + 1, gtkwave.lastTime) << "every microsecond sampled";
    // A byte lane split into wires: bit 6 rises with "A" and stays up for "T", sent with it.
    EXPECT_EQ(sigrokFile.timesOf("TX_D6", "1"), gtkwave.timesOf("TX", "01000001"));

    // The CSV: one row per change with the value before.
    const std::string csv = exportTo("changes.csv", {}, false);
    std::ifstream csvFile(csv);
    std::string header, row;
    std::getline(csvFile, header);
    EXPECT_EQ(header, "time_us,lane,old,new");
    std::vector<std::string> rtsRows;
    while (std::getline(csvFile, row))
        if (row.find(",RTS,") != std::string::npos) rtsRows.push_back(row);
    EXPECT_EQ(rtsRows, (std::vector<std::string>{std::to_string(raised) + ",RTS,,1",
                                                 std::to_string(dropped) + ",RTS,1,0"}));
}

}  // namespace
