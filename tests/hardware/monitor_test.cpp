// The register monitor as a user runs it with real ports: the program's main window (off
// screen) polls COM2 of the guest machine through /dev/port while a program talks through the
// kernel's own 8250 driver on /dev/ttyS1, the same chip. Its change log must show what that
// driver did to the registers; what the poll's reads cost that program is measured and printed.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <cstdio>
#include <thread>

#include "app/log_pane.h"
#include "app/main_window.h"
#include "com2.h"
#include "monitor/register_monitor.h"
#include "monitor/register_table.h"
#include "platform/linux_driver_host.h"
#include "tty_talker.h"

namespace {

using namespace hardware_test;

}  // namespace

// Failures then show the text rather than its bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void print(const char* what, const Transfer& t) {
    std::printf(
        "transfer %s: sent %d, read back %d (%d in order), last after %.0f ms; driver counted "
        "tx %d, rx %d, overruns %d\n",
        what, t.sent, t.received, t.inOrder, t.lastByteMs, t.transmitted, t.driverReceived,
        t.overruns);
}

constexpr int kTransferBytes = 256;

class MonitorOnCom2 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        // No confirmation tones: each would hold the poll for up to 400 ms.
        QSettings(settings.filePath("Quillmor/user.ini"), QSettings::IniFormat)
            .setValue("Speeker", 0);
        window = std::make_unique<app::TForm1>(
            host, [] { return std::vector<std::string>{}; },
            [] {
                return monitor::TimeOfDay{12, 34, 56};
            });
        window->show();
        QTest::qWait(50);
        pick("COM2");
        ASSERT_EQ(window->registerMonitor().baseAddress(), kCom2);
        // The poll has been reading the start preset, COM1: the guest's console, whose driver
        // set it up as COM2's will be. Wait until the poll runs and shows COM2 idle (interrupts
        // disabled, line status $60), then some ticks more, or the driver's settings on COM2
        // would read as no change.
        const auto& interruptEnable = monitor::kRegisterRows[1];
        const auto showsCom2Idle = [&] {
            return child<QLineEdit>(interruptEnable.hexReadBack)->text() == "$00" &&
                   child<QLineEdit>("Edit27")->text() == "$60";
        };
        for (int waited = 0; !showsCom2Idle() && waited < 10'000; waited += 10) QTest::qWait(10);
        ASSERT_TRUE(showsCom2Idle()) << "the poll does not show COM2";
        QTest::qWait(100);
    }

    void pick(const char* preset) {
        auto* combo = child<QComboBox>("ComboBox1");
        const int index = combo->findText(qs(preset));
        ASSERT_GE(index, 0);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    // Types a value into a register's hex write box and presses its write button.
    void writeRegister(int offset, const char* value) {
        const auto& row = monitor::kRegisterRows[static_cast<size_t>(offset)];
        child<QLineEdit>(row.hexWriteBox)->setText(qs(value));
        QTest::mouseClick(child<QToolButton>(monitor::hexWriteButtonName(offset)), Qt::LeftButton);
        QTest::qWait(20);
    }
    template <class T>
    T* child(std::string_view name) {
        T* found = window->findChild<T*>(qs(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QStringList lines(app::LogPane& pane) { return pane.toPlainText().split(u'\n'); }

    // The record of the left pane whose header names `title` and whose bit lines show `value`:
    // header (counter left out) and bit lines, or nothing.
    QStringList record(const char* title, const char* value) {
        const QStringList all = lines(window->leftLog());
        for (qsizetype i = 0; i + 2 < all.size(); ++i) {
            if (!all[i].startsWith(" [ ") || !all[i].contains(qs(title))) continue;
            if (all[i + 2].mid(11, 3) != qs(value)) continue;
            QStringList found{all[i].mid(all[i].indexOf(u']') + 1)};
            for (qsizetype j = i + 2; j < all.size() && !all[j].isEmpty(); ++j) found << all[j];
            return found;
        }
        return {};
    }

    QTemporaryDir settings;
    platform::LinuxDriverHost host{platform::PortBackend::DevPort};  // the guest's real ports
    std::unique_ptr<app::TForm1> window;
};

// Linux 6.1's 8250 driver sets even parity select (LCR bit 4) whenever odd parity is not
// asked for, parity enabled or not: 8N1 is $13 on the chip, not $03.
TEST_F(MonitorOnCom2, ChangeLogRecordsWhatTheKernelsDriverDidToTheChip) {
    window->leftLog().clearPane();
    std::atomic<bool> done = false;
    Transfer watched;
    std::thread talker([&] {
        watched = talkThroughTtyS1(kTransferBytes, std::chrono::milliseconds(300));
        done = true;
    });
    while (!done) QTest::qWait(5);
    talker.join();
    QTest::qWait(100);
    ASSERT_TRUE(watched.opened) << "no /dev/ttyS1";

    std::printf("left pane while the driver worked:\n%s\n",
                window->leftLog().toPlainText().toStdString().c_str());
    EXPECT_EQ(record("Формат данных", "$13"),
              QStringList({
                  "    Формат данных:  регистр  $2FB",
                  " 12:34:56  $13     0 0 0 1 0 0 1 1  : [ 3 ] > [ 1 ]    ON   > DAB0",
                  " 12:34:56  $13     0 0 0 1 0 0 1 1  : [ 3 ] > [ 2 ]    ON   > DAB1",
                  " 12:34:56  $13     0 0 0 1 0 0 1 1  : [ 3 ] > [ 4 ]    OFF >  STOP",
                  " 12:34:56  $13     0 0 0 1 0 0 1 1  : [ 3 ] > [ 8 ]    OFF >  PAR0",
                  " 12:34:56  $13     0 0 0 1 0 0 1 1  : [ 3 ] > [ 16 ]  ON  >  PAR1",
                  " 12:34:56  $13     0 0 0 1 0 0 1 1  : [ 3 ] > [ 32 ]  OFF >  PAR2",
                  " 12:34:56  $13     0 0 0 1 0 0 1 1  : [ 3 ] > [ 64 ]  OFF >  BRK",
                  " 12:34:56  $13     0 0 0 1 0 0 1 1  : [ 3 ] > [128]  OFF >  DLAB",
              }));
    EXPECT_EQ(record("Управление модемом", "$0B"),
              QStringList({
                  "    Управление модемом:  регистр  $2FC",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 1 ]    ON  >  DTR",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 2 ]    ON  >  RTS",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 4 ]    OFF >  OUT1",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 8 ]    ON  >  OUT2",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 16 ]  OFF >  LOOP",
              }));
    EXPECT_EQ(record("Разрешение прерываний", "$05"),
              QStringList({
                  "    Разрешение прерываний:  регистр  $2F9",
                  " 12:34:56  $05     0 0 0 0 0 1 0 1  : [ 1 ] > [ 1 ]    ON  >  RxRD",
                  " 12:34:56  $05     0 0 0 0 0 1 0 1  : [ 1 ] > [ 2 ]    OFF >  TDE",
                  " 12:34:56  $05     0 0 0 0 0 1 0 1  : [ 1 ] > [ 4 ]    ON  >  ERBK",
                  " 12:34:56  $05     0 0 0 0 0 1 0 1  : [ 1 ] > [ 8 ]    OFF >  SINP",
              }));

    // The divisor the driver set for 9600 baud stands behind DLAB: the user sets DLAB with
    // the write box of +3 and reads it at +0 and +1.
    window->rightLog().clearPane();
    writeRegister(3, "$93");
    EXPECT_EQ(child<QLineEdit>("Edit3")->text(), "$0C");
    EXPECT_EQ(child<QLineEdit>("Edit7")->text(), "$00");
    const QStringList data = window->rightLog().toPlainText().split(u'\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(data.isEmpty());
    EXPECT_TRUE(data.last().startsWith(" 12:34:56   $0C      0 0 0 0 1 1 0 0      [ "))
        << data.last().toStdString();
    EXPECT_TRUE(data.last().endsWith(" ]     12")) << data.last().toStdString();
    EXPECT_EQ(record("Формат данных", "$93").value(8),
              " 12:34:56  $93     1 0 0 1 0 0 1 1  : [ 3 ] > [128]  ON  >  DLAB");
    writeRegister(3, "$13");

    // The same transfer with nobody polling the chip, for comparison.
    window.reset();
    const Transfer alone = talkThroughTtyS1(kTransferBytes, std::chrono::milliseconds(0));
    print("with nobody polling", alone);
    print("while the monitor polls COM2", watched);
    EXPECT_EQ(alone.inOrder, kTransferBytes) << "the loopback wire behind COM2 lost bytes itself";
}

// The base follows the presets, writes reach the chip, and the two ways of keeping the user's
// hands off it hold on real ports: a closed driver and locked input.
TEST_F(MonitorOnCom2, PresetsClosedDriverAndLockedInputOnRealPorts) {
    portio::TPortIO probe(host);
    ASSERT_TRUE(probe.OpenDriver());
    Uart com2(probe, kCom2);
    EXPECT_EQ(child<QToolButton>("SpeedButton21")->text(), "$2FF");
    writeRegister(7, "$A5");
    EXPECT_EQ(com2.read(SCR), 0xA5);
    EXPECT_EQ(child<QLineEdit>("Edit35")->text(), "$A5");

    pick("LPT1");
    QTest::qWait(20);
    EXPECT_EQ(window->registerMonitor().baseAddress(), 0x378);
    EXPECT_EQ(child<QToolButton>("SpeedButton21")->text(), "$37F");
    pick("COM2");
    QTest::qWait(20);

    child<QAction>("N19")->trigger();  // close the driver
    QTest::qWait(20);
    EXPECT_FALSE(window->PortIO1()->Opened());
    EXPECT_EQ(child<QLineEdit>("Edit35")->text(), "$00");
    writeRegister(7, "$5A");
    EXPECT_EQ(com2.read(SCR), 0xA5);
    child<QAction>("N19")->trigger();  // and open it again
    QTest::qWait(20);
    EXPECT_TRUE(window->PortIO1()->Opened());
    EXPECT_EQ(child<QLineEdit>("Edit35")->text(), "$A5");

    child<QAction>("N25")->trigger();  // lock input
    writeRegister(7, "$3C");
    EXPECT_EQ(com2.read(SCR), 0xA5);
    child<QAction>("N25")->trigger();
    writeRegister(7, "$00");
    EXPECT_EQ(com2.read(SCR), 0x00);
}

}  // namespace
