#include "monitor/register_monitor.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "monitor/register_table.h"
#include "monitor/values.h"
#include "monitor_fixture.h"

namespace {

using monitor::kLightRows;
using monitor::kRegisterRows;
using monitor_test::MonitorTest;
using monitor_test::qs;

// ---- The poll -------------------------------------------------------------------------------

TEST_F(MonitorTest, PollShowsEachRegisterInItsOwnBoxes) {
    activate();
    const std::array<uint8_t, 8> values = {131, 0, 0x5A, 255, 1, 0x60, 0xB0, 7};
    for (int offset = 0; offset < 8; ++offset) setRegister(offset, values[offset]);
    tick();
    for (int offset = 0; offset < 8; ++offset) {
        const auto& row = kRegisterRows[offset];
        const uint8_t value = values[offset];
        EXPECT_EQ(text(row.hexReadBack), qs(monitor::hexByteText(value).view())) << offset;
        EXPECT_EQ(text(row.decimalReadBack), QString::number(value)) << offset;
        EXPECT_EQ(text(row.bitString), qs(monitor::bitString(value))) << offset;
    }
    EXPECT_EQ(text("Edit3"), "$83");
    EXPECT_EQ(text("Edit4"), "131");
    EXPECT_EQ(text("Edit11"), "1 0 0 0 0 0 1 1");
    EXPECT_EQ(text("Edit8"), "0");
}

TEST_F(MonitorTest, DriverClosedShowsZerosAndDarkLightsTickAfterTick) {
    activate();
    host.ports.fill(0xFF);
    host.driverPresent = false;
    portIO.OpenDriver();
    for (int i = 0; i < 3; ++i) tick();
    for (const auto& row : kRegisterRows) {
        EXPECT_EQ(text(row.hexReadBack), "$00");
        EXPECT_EQ(text(row.decimalReadBack), "0");
        EXPECT_EQ(text(row.bitString), "0 0 0 0 0 0 0 0");
    }
    for (const auto& light : kLightRows) EXPECT_EQ(lightColour(light.name), unlit()) << light.name;
    EXPECT_TRUE(host.readPorts.empty());
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(MonitorTest, EachLightShowsOnlyItsOwnBitInItsOwnColour) {
    activate();
    for (const auto& lit : kLightRows) {
        host.ports.fill(0);
        setRegister(lit.offset, static_cast<uint8_t>(1 << lit.bit));
        tick();
        for (const auto& light : kLightRows) {
            const QColor expected =
                &light == &lit ? QColor(lit.lit.red, lit.lit.green, lit.lit.blue) : unlit();
            EXPECT_EQ(lightColour(light.name), expected) << lit.name << " lit, " << light.name;
        }
    }
    EXPECT_EQ(lightColour("StaticText21"), unlit());
    setRegister(4, 0x01);
    tick();
    EXPECT_EQ(lightColour("StaticText21"), QColor(0, 255, 255));
}

// Seen without colours, by luminance alone, every lit light stands out from its unlit look: it
// has half as many dark pixels again (the colour alone, through the caption's smoothed edges,
// adds up to a third). It keeps its size, so lighting it moves nothing.
TEST_F(MonitorTest, LitLightsStandOutWithoutColour) {
    activate();
    // Pixels darker than mid-grey by their luminance (ITU-R BT.709), as the eye weighs the
    // three primaries.
    const auto darkPixels = [this](const monitor::LightRow& light) {
        const QImage picture = child<QLabel>(light.name)->grab().toImage();
        int dark = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb pixel = picture.pixel(x, y);
                dark += 0.2126 * qRed(pixel) + 0.7152 * qGreen(pixel) + 0.0722 * qBlue(pixel) < 128;
            }
        }
        return dark;
    };
    std::map<std::string_view, int> unlitDark;
    std::map<std::string_view, QSize> unlitSize;
    host.ports.fill(0);
    tick();
    for (const auto& light : kLightRows) {
        unlitDark[light.name] = darkPixels(light);
        unlitSize[light.name] = child<QLabel>(light.name)->size();
    }
    host.ports.fill(0xFF);
    tick();
    for (const auto& light : kLightRows) {
        ASSERT_NE(lightColour(light.name), unlit()) << light.name;
        EXPECT_GT(darkPixels(light), unlitDark[light.name] * 3 / 2) << light.name;
        EXPECT_EQ(child<QLabel>(light.name)->size(), unlitSize[light.name]) << light.name;
    }
}

class NonUartPreset : public MonitorTest, public testing::WithParamInterface<const char*> {};

TEST_P(NonUartPreset, DarkensTheLightsUntilAComPortIsChosenAgain) {
    activate();
    host.ports.fill(0xFF);
    tick();
    ASSERT_EQ(lightColour("StaticText6"), QColor(0, 255, 0));

    pick(QString::fromUtf8(GetParam()));
    tick();
    for (const auto& light : kLightRows) EXPECT_EQ(lightColour(light.name), unlit()) << light.name;
    EXPECT_EQ(host.readPorts.size(), 80u);

    pick("COM2");
    tick();
    EXPECT_EQ(monitor->baseAddress(), 760);
    for (const auto& light : kLightRows) EXPECT_NE(lightColour(light.name), unlit()) << light.name;
}

INSTANTIATE_TEST_SUITE_P(Presets, NonUartPreset, testing::Values("LPT1", "НОВЫЙ", ""),
                         [](const auto& testCase) {
                             const std::string text = testCase.param;
                             return text.empty()     ? std::string("EmptyBox")
                                    : text == "LPT1" ? text
                                                     : std::string("NewPortItem");
                         });

TEST_F(MonitorTest, UnlitLightsFollowTheWindowsButtonColour) {
    activate();
    tick();
    QPalette palette = form.palette();
    palette.setColor(QPalette::Button, QColor(12, 34, 56));
    form.setPalette(palette);
    tick();
    for (const auto& light : kLightRows)
        EXPECT_EQ(lightColour(light.name), QColor(12, 34, 56)) << light.name;
}

TEST_F(MonitorTest, LightsDependOnTheExactPresetNameNotTheAddress) {
    activate();
    host.ports.fill(0xFF);
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), "com1");
    tick();
    EXPECT_EQ(monitor->baseAddress(), 1016);
    EXPECT_EQ(lightColour("StaticText6"), unlit());
}

TEST_F(MonitorTest, TickReadsEightyTimesPlusSeventeenForAComPreset) {
    activate();
    tick();
    EXPECT_EQ(host.readPorts.size(), 97u);
    std::map<uint16_t, int> perPort;
    for (uint16_t port : host.readPorts) ++perPort[port];
    // Ten reads per register for its views, plus one per light of its own.
    const std::map<uint16_t, int> expected = {{1016, 10}, {1017, 10}, {1018, 11}, {1019, 12},
                                              {1020, 14}, {1021, 16}, {1022, 14}, {1023, 10}};
    EXPECT_EQ(perPort, expected);

    pick("LPT1");
    tick();
    EXPECT_EQ(host.readPorts.size(), 80u);
}

TEST_F(MonitorTest, TerminalLightStepRunsAfterTheBitStringsAndBeforeTheUartLights) {
    activate();
    std::vector<size_t> readsBefore;
    monitor->setTerminalLightStep([&] { readsBefore.push_back(host.readPorts.size()); });
    tick();
    EXPECT_EQ(readsBefore, std::vector<size_t>{80});
    EXPECT_EQ(host.readPorts.size(), 97u);
}

TEST_F(MonitorTest, BaseAt65535WrapsOffsetsOneToSevenToPortsZeroToSix) {
    activate();
    edit2->selectAll();
    QTest::keyClicks(edit2, "65535");
    pick("НОВЫЙ");
    ASSERT_EQ(monitor->baseAddress(), 65535);
    for (int port = 0; port < 7; ++port) host.ports[port] = static_cast<uint8_t>(0x10 + port);
    host.ports[65535] = 0x99;
    tick();
    EXPECT_EQ(std::set<uint16_t>(host.readPorts.begin(), host.readPorts.end()),
              (std::set<uint16_t>{65535, 0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(text("Edit3"), "$99");
    EXPECT_EQ(text("Edit7"), "$10");
    EXPECT_EQ(text("Edit35"), "$16");
}

TEST_F(MonitorTest, UnchangedValuesFireNoChangeAndOneBitFlipFiresOnce) {
    activate();
    for (int offset = 0; offset < 8; ++offset)
        setRegister(offset, static_cast<uint8_t>(offset * 37));
    tick();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    std::map<std::string_view, QSignalSpy*> spyOf;
    for (const auto& row : kRegisterRows) {
        for (std::string_view name : {row.hexReadBack, row.decimalReadBack, row.bitString}) {
            spies.push_back(
                std::make_unique<QSignalSpy>(child<QLineEdit>(name), &QLineEdit::textChanged));
            spyOf[name] = spies.back().get();
        }
    }
    for (int i = 0; i < 3; ++i) tick();
    for (const auto& [name, spy] : spyOf) EXPECT_EQ(spy->count(), 0) << name;

    setRegister(1, static_cast<uint8_t>(37 ^ 0x08));
    tick();
    tick();
    for (const auto& [name, spy] : spyOf) {
        const bool changed = name == "Edit12" || name == "Edit7" || name == "Edit8";
        EXPECT_EQ(spy->count(), changed ? 1 : 0) << name;
    }
    EXPECT_EQ(text("Edit12"), qs(monitor::bitString(37 ^ 0x08)));
}

TEST_F(MonitorTest, BitStringRewritesOnlyTheBitPositionsOfWhatTheBoxShows) {
    activate();
    child<QLineEdit>("Edit11")->setText("0-0-0-0-0-0-0-0");
    setRegister(0, 0xA5);
    tick();
    EXPECT_EQ(text("Edit11"), "1-0-1-0-0-1-0-1");

    // A box that lost its text gets its missing separators back instead of a write past its end.
    child<QLineEdit>("Edit12")->clear();
    setRegister(1, 0x81);
    tick();
    EXPECT_EQ(text("Edit12"), "1 0 0 0 0 0 0 1");
}

TEST_F(MonitorTest, TimerIsAOneMillisecondClockOfTheFormThatTicksThePoll) {
    monitor::PollTimer* timer = monitor->timer();
    EXPECT_EQ(timer, form.findChild<monitor::PollTimer*>("Timer1"));
    EXPECT_EQ(timer->parent(), &form);
    EXPECT_EQ(timer->period(), std::chrono::milliseconds(1));
    EXPECT_FALSE(timer->isActive());

    monitor->GCP();
    setRegister(3, 0x1B);
    timer->start();
    QTest::qWait(20);
    EXPECT_EQ(text("Edit17"), "$1B") << "the poll ran on the timer's own ticks";
    timer->stop();
    EXPECT_FALSE(timer->isActive());
}

// A thread that was busy for many periods gets one tick, not one for every deadline it
// missed; the schedule goes on from the deadlines, so ticks come again after that.
TEST_F(MonitorTest, LateTickIsNotMadeUpWithABurst) {
    monitor::PollTimer timer(std::chrono::milliseconds(1), nullptr);
    int ticks = 0;
    QObject::connect(&timer, &monitor::PollTimer::timeout, [&] { ++ticks; });
    timer.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    QCoreApplication::processEvents();
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks > 1; }, 1000));
}

// ---- Base address -------------------------------------------------------------------------

TEST_F(MonitorTest, FirstActivationSetsTheBaseFromCom1) {
    EXPECT_EQ(monitor->baseAddress(), 0);
    monitor->GCP();
    EXPECT_EQ(monitor->baseAddress(), 1016);
    EXPECT_EQ(edit1->text(), "$3F8");
    EXPECT_EQ(child<QToolButton>("SpeedButton7")->text(), "$3F8");
    EXPECT_EQ(child<QToolButton>("SpeedButton22")->text(), "1023");
    EXPECT_EQ(log, (QStringList{"", " Базовый регистр порта : $3F8", ""}));
}

TEST_F(MonitorTest, Lpt1SetsBoxesCaptionsAndLogsTheBase) {
    activate();
    pick("LPT1");
    EXPECT_EQ(monitor->baseAddress(), 888);
    EXPECT_EQ(edit2->text(), "888");
    EXPECT_EQ(edit1->text(), "$378");
    for (int offset = 0; offset < 8; ++offset) {
        EXPECT_EQ(child<QToolButton>(monitor::hexWriteButtonName(offset))->text(),
                  QString("$%1").arg(0x378 + offset, 0, 16).toUpper());
        EXPECT_EQ(child<QToolButton>(monitor::decimalWriteButtonName(offset))->text(),
                  QString::number(888 + offset));
    }
    EXPECT_EQ(log, (QStringList{"", " Базовый регистр порта : $378", ""}));
}

TEST_F(MonitorTest, TypingSpTimerEvaluatesEveryKeystroke) {
    activate();
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), "SP TIMER");
    ASSERT_EQ(log.size(), 8 * 3);
    for (int key = 0; key < 7; ++key)
        EXPECT_EQ(log[key * 3 + 1], " Базовый регистр порта : $3F8") << key;
    EXPECT_EQ(log[7 * 3 + 1], " Базовый регистр порта : $040");
    EXPECT_EQ(monitor->baseAddress(), 64);
    EXPECT_EQ(edit2->text(), "64");
    EXPECT_EQ(edit1->text(), "$040");
}

// The box reports a change for picks and keystrokes only: leaving it, or opening its list and
// closing it again without a choice, evaluates nothing, even when its text equals an item.
TEST_F(MonitorTest, LeavingThePresetBoxOrOpeningItsListEvaluatesNothing) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    activate();
    const auto evaluations = [this] {
        return std::count_if(log.cbegin(), log.cend(), [](const QString& line) {
            return line.startsWith(QStringLiteral(" Базовый регистр порта : "));
        });
    };
    combo->lineEdit()->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClick(combo->lineEdit(), Qt::Key_Delete);
    QTest::keyClicks(combo->lineEdit(), "COM2");
    edit1->setFocus();
    EXPECT_EQ(evaluations(), 5);

    child<QToolButton>("SpeedButton24")->click();
    combo->lineEdit()->setFocus();
    edit1->setFocus();
    EXPECT_EQ(evaluations(), 6);

    combo->showPopup();
    combo->hidePopup();
    edit1->setFocus();
    EXPECT_EQ(evaluations(), 6);

    QSignalSpy picks(combo, &QComboBox::activated);
    combo->showPopup();
    QTest::keyClick(combo->view(), Qt::Key_Up);
    QTest::keyClick(combo->view(), Qt::Key_Return);
    EXPECT_EQ(picks.count(), 1);
    EXPECT_EQ(evaluations(), 7);
    EXPECT_EQ(combo->currentText(), "SOUND");
}

TEST_F(MonitorTest, NewPortButtonTakesTheTypedHexAddress) {
    activate();
    edit1->setFocus();
    edit1->end(false);
    for (int i = 0; i < 3; ++i) QTest::keyClick(edit1, Qt::Key_Backspace);
    QTest::keyClicks(edit1, "2F8");
    ASSERT_EQ(edit1->text(), "$2F8");
    child<QToolButton>("SpeedButton24")->click();
    EXPECT_EQ(combo->currentText(), "НОВЫЙ");
    EXPECT_EQ(monitor->baseAddress(), 760);
    EXPECT_EQ(edit2->text(), "760");
    EXPECT_EQ(edit1->text(), "$2F8");
    EXPECT_EQ(child<QToolButton>("SpeedButton7")->text(), "$2F8");
    EXPECT_EQ(tones, (std::vector<std::pair<int, int>>{{100, 50}, {300, 50}, {130, 50}}));
}

TEST_F(MonitorTest, DecimalAddressThenNewPresetSetsTheHexBox) {
    activate();
    edit2->selectAll();
    QTest::keyClicks(edit2, "760");
    pick("НОВЫЙ");
    EXPECT_EQ(monitor->baseAddress(), 760);
    EXPECT_EQ(edit1->text(), "$2F8");
}

TEST_F(MonitorTest, NewPresetWithNeitherBoxEditedKeepsTheBase) {
    // Before the first activation the base is 0 although the boxes read 1016.
    pick("НОВЫЙ");
    EXPECT_EQ(monitor->baseAddress(), 0);
    EXPECT_EQ(edit1->text(), "$000");
    EXPECT_EQ(edit2->text(), "1016");
    log.clear();

    pick("COM2");
    pick("НОВЫЙ");
    EXPECT_EQ(monitor->baseAddress(), 760);
    EXPECT_EQ(log.size(), 6);
    EXPECT_EQ(log[4], " Базовый регистр порта : $2F8");
}

TEST_F(MonitorTest, EmptyItemRereadsTheDecimalBox) {
    activate();
    pick("COM3");
    log.clear();
    pick("");
    EXPECT_EQ(combo->currentText(), "");
    EXPECT_EQ(monitor->baseAddress(), 1000);
    EXPECT_EQ(log, (QStringList{"", " Базовый регистр порта : $3E8", ""}));
}

TEST_F(MonitorTest, NonNumberEndsTheEvaluationSilentlyAndKeepsEverything) {
    activate();
    edit1->setFocus();
    edit1->home(false);
    QTest::keyClick(edit1, Qt::Key_Delete);
    ASSERT_EQ(edit1->text(), "3F8");

    child<QToolButton>("SpeedButton24")->click();
    pick("НОВЫЙ");
    EXPECT_THROW(monitor->GCP(), monitor::ConversionError);
    EXPECT_EQ(monitor->baseAddress(), 1016);
    EXPECT_EQ(edit1->text(), "3F8");
    EXPECT_EQ(edit2->text(), "1016");
    EXPECT_EQ(child<QToolButton>("SpeedButton7")->text(), "$3F8");
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(tones.empty());

    edit2->selectAll();
    QTest::keyClick(edit2, Qt::Key_Delete);
    ASSERT_EQ(edit2->text(), "");
    pick("");
    EXPECT_EQ(monitor->baseAddress(), 1016);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(MonitorTest, NegativeBaseShowsEightHexDigitsAndReadsTheTopPorts) {
    activate();
    edit2->selectAll();
    QTest::keyClicks(edit2, "-8");
    pick("НОВЫЙ");
    EXPECT_EQ(monitor->baseAddress(), -8);
    EXPECT_EQ(edit1->text(), "$FFFFFFF8");
    EXPECT_EQ(child<QToolButton>("SpeedButton8")->text(), "-8");
    EXPECT_EQ(child<QToolButton>("SpeedButton21")->text(), "$FFFFFFFF");
    host.ports[65528] = 0x42;
    tick();
    EXPECT_EQ(text("Edit3"), "$42");
}

// ---- Key filters and the check box --------------------------------------------------------

TEST_F(MonitorTest, BackspaceDoesNothingInTheDecimalBoxButDeleteWorks) {
    edit2->setFocus();
    edit2->end(false);
    QTest::keyClick(edit2, Qt::Key_Backspace);
    EXPECT_EQ(edit2->text(), "1016");
    edit2->home(false);
    QTest::keyClick(edit2, Qt::Key_Delete);
    EXPECT_EQ(edit2->text(), "016");
}

TEST_F(MonitorTest, BackspaceWorksInTheHexBox) {
    edit1->setFocus();
    edit1->end(false);
    QTest::keyClick(edit1, Qt::Key_Backspace);
    EXPECT_EQ(edit1->text(), "$3F");
}

TEST_F(MonitorTest, HexBoxDiscardsDollarSpaceAndNonHexLetters) {
    edit1->clear();
    QTest::keyClicks(edit1, "$ 1g-aF");
    EXPECT_EQ(edit1->text(), "1aF");
}

TEST_F(MonitorTest, DecimalBoxDiscardsLettersAndSpaces) {
    edit2->clear();
    QTest::keyClicks(edit2, "7 a$x-Z@");
    EXPECT_EQ(edit2->text(), "7$-@");
}

TEST_F(MonitorTest, CheckBox2PlaysItsToneOnEveryChangeOfState) {
    auto* box = child<QCheckBox>("CheckBox2");
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(tones.empty());
    box->click();
    box->setChecked(false);
    box->setChecked(true);
    EXPECT_EQ(tones, (std::vector<std::pair<int, int>>{{1300, 50}, {1300, 50}}));
}

// ---- Controls -------------------------------------------------------------------------------

TEST_F(MonitorTest, RegisterGroupsStandOnTheirPanelsInOffsetOrder) {
    for (int offset = 0; offset < 8; ++offset) {
        const auto& row = kRegisterRows[offset];
        auto* group = child<QGroupBox>(row.registerGroup);
        auto* bitGroup = child<QGroupBox>(row.bitGroup);
        EXPECT_EQ(group->parentWidget(), panels[offset < 4 ? 0 : 2]) << offset;
        EXPECT_EQ(bitGroup->parentWidget(), panels[offset < 4 ? 1 : 3]) << offset;
        EXPECT_EQ(panels[offset < 4 ? 0 : 2]->layout()->indexOf(group), offset % 4);
        EXPECT_EQ(panels[offset < 4 ? 1 : 3]->layout()->indexOf(bitGroup), offset % 4);
        for (std::string_view name :
             {row.hexReadBack, row.decimalReadBack, row.hexWriteBox, row.decimalWriteBox})
            EXPECT_EQ(child<QLineEdit>(name)->parentWidget(), group) << name;
        EXPECT_EQ(child<QLineEdit>(row.bitString)->parentWidget(), bitGroup);
    }
}

TEST_F(MonitorTest, WriteButtonsShowTheirHintInTheStatusBarOnly) {
    for (int offset = 0; offset < 8; ++offset) {
        auto* hex = child<QToolButton>(monitor::hexWriteButtonName(offset));
        auto* decimal = child<QToolButton>(monitor::decimalWriteButtonName(offset));
        EXPECT_EQ(hex->parentWidget(), child<QGroupBox>(kRegisterRows[offset].registerGroup));
        EXPECT_EQ(hex->statusTip(), qs(kRegisterRows[offset].hexWriteHint));
        EXPECT_EQ(decimal->statusTip(), qs(kRegisterRows[offset].decimalWriteHint));
        EXPECT_TRUE(hex->toolTip().isEmpty());
        EXPECT_TRUE(decimal->toolTip().isEmpty());
        EXPECT_EQ(hex->text(), "write");
    }
    EXPECT_EQ(child<QToolButton>("SpeedButton18")->statusTip(),
              "Запись обычн. десятичное число [ 5]");
}

TEST_F(MonitorTest, BitButtonsAreNumberedBitSevenFirstPerRegister) {
    for (int n = 1; n <= 64; ++n) {
        const int offset = (n - 1) / 8;
        const int bit = 7 - (n - 1) % 8;
        auto* button = child<QPushButton>("Button" + std::to_string(n));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->parentWidget(), child<QGroupBox>(kRegisterRows[offset].bitGroup)) << n;
        EXPECT_EQ(button->text(), QString::number(bit)) << n;
        const QString hint = n == 36 ? "LOOP " : QString("Bit %1").arg(bit);
        EXPECT_EQ(button->toolTip(), hint) << n;
        EXPECT_EQ(button->statusTip(), hint) << n;
        EXPECT_EQ(button->size(), QSize(15, 20)) << n;
    }
}

TEST_F(MonitorTest, LightsAndBasePortGroupSitOnTheirPages) {
    for (const auto& light : kLightRows) {
        auto* label = child<QLabel>(light.name);
        EXPECT_TRUE(uartPage->isAncestorOf(label)) << light.name;
        EXPECT_EQ(label->text(), qs(light.caption));
        EXPECT_EQ(label->palette().color(QPalette::Window), unlit());
    }
    auto* group = child<QGroupBox>("GroupBox1");
    EXPECT_EQ(group->title(), "Установ. базовый порт");
    EXPECT_EQ(group->parentWidget(), toolsPage);
    for (std::string_view name :
         {"Edit1", "Edit2", "ComboBox1", "SpeedButton24", "CheckBox2", "Label1", "Label2"})
        EXPECT_EQ(child<QWidget>(name)->parentWidget(), group) << name;
    EXPECT_EQ(combo->count(), 12);
    EXPECT_EQ(combo->currentText(), "COM1");
    EXPECT_EQ(child<QToolButton>("SpeedButton24")->text(), "НОВЫЙ  ПОРТ");
    EXPECT_EQ(edit1->toolTip(), "Введите адрес порта в hex и выберите \"НОВЫЙ\"");
}

TEST_F(MonitorTest, BasePortGroupGoesAboveWhatTheToolsPageAlreadyHolds) {
    QWidget otherForm;
    std::array<QFrame*, 4> otherPanels{};
    for (QFrame*& panel : otherPanels) panel = new QFrame(&otherForm);
    auto* page = new QWidget(&otherForm);
    auto* layout = new QVBoxLayout(page);
    auto* below = new QCheckBox("below", page);
    layout->addWidget(below);
    new monitor::RegisterMonitor(
        &otherForm,
        {otherPanels[0], otherPanels[1], otherPanels[2], otherPanels[3], new QWidget(&otherForm),
         page},
        portIO, {[](monitor::LogPane, const QStringList&) {}, [](monitor::LogPane) {}, {}},
        [](int, int) {});
    EXPECT_EQ(layout->indexOf(otherForm.findChild<QGroupBox*>("GroupBox1")), 0);
    EXPECT_EQ(layout->indexOf(below), 1);
}

}  // namespace
