// The terminal page's commands: connect and disconnect, SEND, XON, BRK, the line-setting boxes,
// the menu items and the lights of the poll.
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include <termios.h>

#include "comm/linux_baud.h"
#include "sim/simulated_pc.h"
#include "terminal_fixture.h"

namespace terminal_test {
namespace {

using Terminal = TerminalTest;

TEST_F(Terminal, StartsWithTheWindowsTextsAndComm1Settings) {
    EXPECT_EQ(combo("ComboBox2")->currentText(), "Com1");
    EXPECT_EQ(combo("ComboBox6")->currentText(), "CTS");
    EXPECT_EQ(combo("ComboBox3")->currentText(), "8");
    EXPECT_EQ(combo("ComboBaudrate")->currentText(), "br9600");
    EXPECT_EQ(combo("ComboBox4")->currentText(), "10");
    EXPECT_EQ(combo("ComboBox5")->currentText(), "    Нет ");
    EXPECT_EQ(combo("ComboBaudrate")->count(), 16);
    EXPECT_EQ(combo("ComboBox3")->count(), 6);
    EXPECT_EQ(child<QLineEdit>("Edit43")->text(), "AT Z E1 H1  test");
    EXPECT_EQ(button("SpeedButton1")->text(), "OPEN");
    EXPECT_EQ(button("SpeedButton1")->toolTip(), "Подключиться к порту");
    EXPECT_EQ(child<QLabel>("StaticText5")->toolTip(), "LOOP : Обратная связь");
    EXPECT_TRUE(child<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_TRUE(child<QCheckBox>("CheckBox1")->isHidden());

    comm::TComm& comm = page->Comm1();
    EXPECT_EQ(comm.DeviceName(), "Com1");
    EXPECT_EQ(comm.FlowControl(), comm::fcCTS) << "the item shown at start is what it holds";
    EXPECT_EQ(comm.Options(), comm::TCommOptions::all());
    EXPECT_EQ(comm.MonitorEvents(), comm::TCommEventTypes::all());
    EXPECT_TRUE(memo("Memo1")->lines().isEmpty()) << "no handler runs at start";
}

TEST_F(Terminal, ConnectSoundsThenWritesStatusMemoLogsProviderAndLightsXonInOrder) {
    usePty();
    const QString name = combo("ComboBox2")->currentText();
    snapshot = [this] {
        return QString::number(memo("Memo1")->lines().size()) +
               (statusPanel->text().isEmpty() ? "" : "s");
    };
    click("SpeedButton1");
    snapshot = {};

    ASSERT_TRUE(page->Comm1().IsOpen());
    EXPECT_EQ(page->Comm1().DeviceName(), name.toStdString()) << "the typed name as it is";
    EXPECT_EQ(calls,
              QStringList({"sound 500 200 @0", "RichEdit2:  @1s",
                           "RichEdit2:  Подключено к : " + name + " @1s", "RichEdit1:  @1s",
                           "RichEdit1:  Подключено к : " + name + " @1s", "RichEdit1:  @1s"}));
    EXPECT_EQ(statusPanel->text(), "UART - подключен к : " + name);
    EXPECT_EQ(memo("Memo1")->lines(), QStringList({"Подключено к : " + name, "RS-232 serial port"}))
        << "a tty typed into the port box is a serial port";
    EXPECT_EQ(lightColour("StaticText3"), QColor(0, 255, 0));
    EXPECT_EQ(button("SpeedButton1")->text(), "CLOSE");
    EXPECT_EQ(button("SpeedButton1")->toolTip(), "Отключиться от порта");
    EXPECT_FALSE(combo("ComboBox2")->isEnabled());
}

TEST_F(Terminal, DisconnectClosesSoundsAndWritesItsNotesWithTheirMixedLetters) {
    usePty();
    click("SpeedButton1");
    const QString name = combo("ComboBox2")->currentText();
    calls.clear();
    memo("Memo1")->clear();
    click("SpeedButton1");

    EXPECT_FALSE(page->Comm1().IsOpen());
    // Latin o and O where the window has them.
    EXPECT_EQ(statusPanel->text(), "UART - oтключён от : " + name);
    EXPECT_EQ(calls,
              QStringList({"sound 800 150", "RichEdit2: ", "RichEdit2: Oтключён от : " + name,
                           "RichEdit1: ", "RichEdit1:  Отключён от : " + name, "RichEdit1: "}));
    EXPECT_EQ(memo("Memo1")->lines().last(), "Отключён от : " + name);
    EXPECT_EQ(button("SpeedButton1")->text(), "OPEN");
    EXPECT_EQ(button("SpeedButton1")->toolTip(), "Подключиться к порту");
    EXPECT_TRUE(combo("ComboBox2")->isEnabled());
}

TEST_F(Terminal, TonesOfThePortFollowTheSpeakerItem) {
    usePty();
    action("N22")->setChecked(false);
    click("SpeedButton1");
    click("SpeedButton1");
    EXPECT_FALSE(calls.join('\n').contains("sound"));
}

TEST_F(Terminal, FailedOpenShowsTheErrorAndEndsBeforeAnyToneOrText) {
    combo("ComboBox2")->setEditText(QStringLiteral("/nonexistent/tty"));
    click("SpeedButton1");
    EXPECT_EQ(calls, QStringList({"Ошибка: Error accessing specified device (Error: 2) "}));
    EXPECT_FALSE(page->Comm1().IsOpen());
    EXPECT_TRUE(statusPanel->text().isEmpty());
    EXPECT_TRUE(memo("Memo1")->lines().isEmpty());
    EXPECT_EQ(button("SpeedButton1")->text(), "OPEN");
}

// A pseudo-terminal has no modem lines, so raising one is refused: the connect stops with the
// error, the port closed again and the status bar as it was, so the button's OPEN is true; the
// next click tries to connect again.
class RefusedSignals : public TerminalTest,
                       public testing::WithParamInterface<std::pair<bool, bool>> {};

TEST_P(RefusedSignals, ConnectFailsWithThePortClosedAndTheStatusBarAsItWas) {
    const auto [rts, dtr] = GetParam();
    usePty();
    statusPanel->setText(QStringLiteral("UART - oтключён от : Com2"));
    action("NRTS")->setChecked(rts);
    action("NDTR")->setChecked(dtr);
    for (int attempt = 0; attempt < 2; ++attempt) {
        calls.clear();
        click("SpeedButton1");
        EXPECT_FALSE(page->Comm1().IsOpen());
        ASSERT_EQ(calls.size(), 2);
        EXPECT_EQ(calls[0], "sound 500 200");
        EXPECT_EQ(calls[1], "Ошибка: EscapeCommFunction failure (Error: 25) ");
        EXPECT_EQ(statusPanel->text(), "UART - oтключён от : Com2");
        EXPECT_TRUE(memo("Memo1")->lines().isEmpty());
        EXPECT_EQ(button("SpeedButton1")->text(), "OPEN");
        EXPECT_TRUE(combo("ComboBox2")->isEnabled());
    }
    action("NRTS")->setChecked(false);
    action("NDTR")->setChecked(false);
    click("SpeedButton1");
    EXPECT_TRUE(page->Comm1().IsOpen());
    EXPECT_EQ(button("SpeedButton1")->text(), "CLOSE");
}

INSTANTIATE_TEST_SUITE_P(Terminal, RefusedSignals,
                         testing::Values(std::pair{true, false}, std::pair{false, true},
                                         std::pair{true, true}));

TEST_F(Terminal, RtsAndDtrItemsRaiseTheLinesOfASimulatedPort) {
    action("NRTS")->setChecked(true);
    action("NDTR")->setChecked(true);
    combo("ComboBox2")->setEditText(QStringLiteral("Com2"));
    click("SpeedButton1");
    ASSERT_TRUE(page->Comm1().IsOpen()) << calls.join('\n').toStdString();
    EXPECT_EQ(memo("Memo1")->lines(), QStringList({"Подключено к : Com2", "RS-232 serial port"}));
    EXPECT_EQ(sim::SimulatedPc::instance().in(0x2F8 + 4) & 0x03, 0x03) << "DTR and RTS in MCR";
}

struct SendCase {
    const char* name;
    QString text;
    std::string bytes;
};

class Send : public TerminalTest, public testing::WithParamInterface<SendCase> {};

TEST_P(Send, WritesTheTextWithCrLfAndLogsTheCount) {
    usePty();
    click("SpeedButton1");
    child<QLineEdit>("Edit43")->setText(GetParam().text);
    calls.clear();
    click("SpeedButton2");
    EXPECT_EQ(pty->receive(GetParam().bytes.size()), GetParam().bytes);
    EXPECT_EQ(calls, QStringList({"tone 1300 50"}));
    EXPECT_EQ(memo("Memo1")->lines().last(),
              QStringLiteral("Передано %1 Cимволов").arg(GetParam().bytes.size()));
}

INSTANTIATE_TEST_SUITE_P(Terminal, Send,
                         testing::Values(SendCase{"DefaultText", QStringLiteral("AT Z E1 H1  test"),
                                                  "AT Z E1 H1  test\r\n"},
                                         SendCase{"EmptyText", QString(), "\r\n"},
                                         SendCase{"CyrillicInTheAnsiCodePage", QStringLiteral("Яя"),
                                                  "\xDF\xFF\r\n"}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(Terminal, SendXonAndBrkDoNothingWhileClosed) {
    for (const char* name : {"SpeedButton2", "SpeedButton4", "SpeedButton3"}) click(name);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_TRUE(memo("Memo1")->lines().isEmpty());
    EXPECT_EQ(button("SpeedButton4")->property("Transparent"), true) << "state not flipped";
    EXPECT_EQ(button("SpeedButton3")->property("Transparent"), false);
}

TEST_F(Terminal, FirstXonClickSendsXoffAndDarkensTheLightTheSecondRelights) {
    usePty();
    click("SpeedButton1");
    calls.clear();
    click("SpeedButton4");
    EXPECT_EQ(lightColour("StaticText3"), unlit());
    EXPECT_EQ(button("SpeedButton4")->property("Transparent"), false);
    click("SpeedButton4");
    EXPECT_EQ(lightColour("StaticText3"), QColor(0, 255, 0));
    EXPECT_EQ(calls, QStringList({"tone 1300 50", "tone 1300 50"}));
}

TEST_F(Terminal, XonStateSurvivesReopeningWhileConnectRelightsTheLight) {
    usePty();
    click("SpeedButton1");
    click("SpeedButton4");  // XOFF
    click("SpeedButton1");
    tick();
    EXPECT_EQ(lightColour("StaticText3"), unlit()) << "the closed port's light step";
    click("SpeedButton1");
    EXPECT_EQ(lightColour("StaticText3"), QColor(0, 255, 0));
    EXPECT_EQ(button("SpeedButton4")->property("Transparent"), false);
}

TEST_F(Terminal, BrkClicksSetAndClearTheBreakBitOfTheSimulatedLineControl) {
    combo("ComboBox2")->setEditText(QStringLiteral("Com2"));
    click("SpeedButton1");
    ASSERT_TRUE(page->Comm1().IsOpen()) << calls.join('\n').toStdString();
    calls.clear();
    sim::SimulatedPc& pc = sim::SimulatedPc::instance();
    click("SpeedButton3");
    EXPECT_EQ(pc.in(0x2F8 + 3) & 0x40, 0x40);
    click("SpeedButton3");
    EXPECT_EQ(pc.in(0x2F8 + 3) & 0x40, 0);
    EXPECT_EQ(calls, QStringList({"tone 1300 50", "tone 1300 50"}));
}

TEST_F(Terminal, LightsReadTheMonitoredBaseFourTimesWhileOpen) {
    usePty();
    host.ports[port(3)] = 0x40;
    host.ports[port(4)] = 0x13;  // LOOP, RTS, DTR
    tick();                      // the change records of the new values read ports of their own
    click("SpeedButton1");
    tick();
    ASSERT_GE(host.readPorts.size(), 84u);
    EXPECT_EQ(std::vector<uint16_t>(host.readPorts.begin() + 80, host.readPorts.begin() + 84),
              (std::vector<uint16_t>{port(3), port(4), port(4), port(4)}));
    EXPECT_EQ(host.readPorts.size(), 80u + 4u + 17u);
    EXPECT_EQ(lightColour("StaticText4"), QColor(255, 255, 0));
    EXPECT_EQ(lightColour("StaticText1"), QColor(0, 255, 0));
    EXPECT_EQ(lightColour("StaticText2"), QColor(0, 255, 255));
    EXPECT_EQ(lightColour("StaticText5"), QColor(0, 255, 0));

    host.ports[port(4)] = 0x10;
    tick();
    tick();
    EXPECT_EQ(lightColour("StaticText1"), unlit());
    EXPECT_EQ(lightColour("StaticText2"), unlit());
}

TEST_F(Terminal, LightsWhileClosedReadNothingAndLeaveLopAsItWas) {
    usePty();
    click("SpeedButton1");
    host.ports[port(3)] = 0x40;
    host.ports[port(4)] = 0x13;
    tick();
    click("SpeedButton1");
    tick();
    EXPECT_EQ(host.readPorts.size(), 80u + 17u);
    for (const char* light : {"StaticText1", "StaticText2", "StaticText3", "StaticText4"})
        EXPECT_EQ(lightColour(light), unlit()) << light;
    EXPECT_EQ(lightColour("StaticText5"), QColor(0, 255, 0));
}

struct SettingCase {
    const char* name;
    const char* box;
    QString item;
    QString line;
    std::function<int(comm::TComm&)> value;
    int expected;
};

class LineSetting : public TerminalTest, public testing::WithParamInterface<SettingCase> {};

TEST_P(LineSetting, PickSetsTheComponentAndLogsTheBoxText) {
    const SettingCase& c = GetParam();
    const int before = c.value(page->Comm1());
    pick(c.box, c.item);
    EXPECT_EQ(memo("Memo1")->lines(), QStringList{c.line});
    EXPECT_EQ(c.value(page->Comm1()), c.expected < 0 ? before : c.expected);
}

const auto baud = [](comm::TComm& c) { return static_cast<int>(c.BaudRate()); };
const auto flow = [](comm::TComm& c) { return static_cast<int>(c.FlowControl()); };
const QString kKept = QStringLiteral(" (не применено, оставлено прежнее)");

INSTANTIATE_TEST_SUITE_P(
    Terminal, LineSetting,
    testing::Values(
        SettingCase{"Baud19200", "ComboBaudrate", "cbr19200", "Скорость: cbr19200", baud,
                    comm::br19200},
        SettingCase{"BaudEmptyItemKeepsTheSpeed", "ComboBaudrate", "", "Скорость: " + kKept, baud,
                    -1},
        SettingCase{"DataBitsDashesAreFour", "ComboBox3", "--", "Битов данных: --",
                    [](comm::TComm& c) { return static_cast<int>(c.Databits()); }, comm::da4},
        SettingCase{"DataBitsEmptyItemKeepsTheBits", "ComboBox3", "", "Битов данных: " + kKept,
                    [](comm::TComm& c) { return static_cast<int>(c.Databits()); }, -1},
        SettingCase{"StopBits15", "ComboBox4", "15", "Стоп бит: 15",
                    [](comm::TComm& c) { return static_cast<int>(c.Stopbits()); }, comm::sb15},
        SettingCase{"ParityEven", "ComboBox5", "Чётная", "Пров.чётности: Чётная",
                    [](comm::TComm& c) { return static_cast<int>(c.Parity()); }, comm::paEven},
        SettingCase{"FlowNoneIsNoHandshake", "ComboBox6", "Нет", "Конроль: Нет", flow,
                    comm::fcNone},
        SettingCase{"FlowProgrIsSoftware", "ComboBox6", "Прогр.", "Конроль: Прогр.", flow,
                    comm::fcSoftware},
        SettingCase{"FlowRtsIsTheRtsCtsHandshake", "ComboBox6", "RTS", "Конроль: RTS", flow,
                    comm::fcCTS},
        SettingCase{"FlowDtr", "ComboBox6", "DTR", "Конроль: DTR", flow, comm::fcDTR}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Terminal, TypedSettingKeepsThePreviousValueAndSaysSo) {
    pick("ComboBaudrate", QStringLiteral("cbr19200"));
    memo("Memo1")->clear();
    QTest::keyClicks(combo("ComboBaudrate")->lineEdit(), QStringLiteral("x"));
    EXPECT_TRUE(memo("Memo1")->lines().isEmpty()) << "a speed is taken when the typing ends";
    QTest::keyClick(combo("ComboBaudrate")->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(page->Comm1().BaudRate(), comm::br19200);
    EXPECT_EQ(memo("Memo1")->lines(), QStringList{"Скорость: cbr19200x" + kKept});
}

TEST_F(Terminal, SettingChangedWhileOpenIsAppliedAtOnceAndARefusedOneIsTakenBack) {
    usePty();
    click("SpeedButton1");
    pick("ComboBaudrate", QStringLiteral("cbr19200"));
    EXPECT_EQ(page->Comm1().CurrentDcb().BaudRate, 19200u);

    // A pseudo-terminal has only eight-bit words.
    pick("ComboBox3", QStringLiteral("--"));
    EXPECT_EQ(calls.last(), "Ошибка: Error updating DataControlBlock (Error: 22) ");
    EXPECT_EQ(page->Comm1().Databits(), comm::da8);
    EXPECT_EQ(combo("ComboBox3")->currentText(), "8");
    EXPECT_EQ(combo("ComboBox3")->currentIndex(), 4);
}

// A pseudo-terminal refuses 7 data bits and parity. Refused at OPEN, the port is closed again
// and the component follows the line the port ran, so the boxes show that line and the next
// OPEN connects with it; refused while open, the boxes stay on the line the port runs.
TEST_F(Terminal, BoxesShowTheLineThePortRunsAfterARefusedOpenAndARefusedSetting) {
    usePty();
    termios line{};
    ASSERT_EQ(::tcgetattr(pty->slave, &line), 0);
    ::cfsetspeed(&line, B38400);
    ASSERT_EQ(::tcsetattr(pty->slave, TCSANOW, &line), 0);
    pick("ComboBaudrate", QStringLiteral("cbr19200"));
    pick("ComboBox3", QStringLiteral("7"));
    pick("ComboBox4", QStringLiteral("20"));
    pick("ComboBox5", QStringLiteral("Чётная"));
    const QStringList portLine = {"cbr38400", "8", "10", "Нет"};
    const auto shownLine = [this] {
        QStringList shown;
        for (const char* box : {"ComboBaudrate", "ComboBox3", "ComboBox4", "ComboBox5"})
            shown << combo(box)->currentText();
        return shown;
    };

    click("SpeedButton1");
    EXPECT_EQ(calls, QStringList({"Ошибка: Error updating DataControlBlock (Error: 22) "}));
    EXPECT_FALSE(page->Comm1().IsOpen());
    EXPECT_EQ(button("SpeedButton1")->text(), "OPEN");
    EXPECT_EQ(shownLine(), portLine);

    click("SpeedButton1");
    ASSERT_TRUE(page->Comm1().IsOpen()) << calls.join('\n').toStdString();
    EXPECT_EQ(shownLine(), portLine);
    pick("ComboBox3", QStringLiteral("5"));
    EXPECT_EQ(calls.last(), "Ошибка: Error updating DataControlBlock (Error: 22) ");
    EXPECT_EQ(shownLine(), portLine);
}

// A speed typed into the speed box is taken when the typing ends. On a pseudo-terminal it is the
// rate the far end reads back. The simulated UART runs the nearest rate its divisor makes: the
// box then shows the real rate beside the one asked, for a list item as for a typed speed, and
// a rate no divisor comes near is refused as any setting, the box going back to the line the
// port runs.
TEST_F(Terminal, TypedSpeedIsSetAndARealRateOtherThanTheOneAskedIsShownBesideIt) {
    QLineEdit* speed = combo("ComboBaudrate")->lineEdit();
    const auto type = [&](const QString& text) {
        speed->clear();
        QTest::keyClicks(speed, text);
        QTest::keyClick(speed, Qt::Key_Return);
    };
    usePty();
    click("SpeedButton1");
    ASSERT_TRUE(page->Comm1().IsOpen()) << calls.join('\n').toStdString();
    type(QStringLiteral("250000"));
    uint32_t farEnd = 0;
    EXPECT_EQ(comm::linux_baud::getLineSpeed(pty->slave, farEnd), 0);
    EXPECT_EQ(farEnd, 250000u);
    EXPECT_EQ(memo("Memo1")->lines().last(), "Скорость: 250000");
    click("SpeedButton1");
    pick("ComboBaudrate", QStringLiteral("cbr9600"));

    combo("ComboBox2")->setEditText(QStringLiteral("Com2"));
    click("SpeedButton1");
    ASSERT_TRUE(page->Comm1().IsOpen()) << calls.join('\n').toStdString();
    pick("ComboBaudrate", QStringLiteral("cbr56000"));
    EXPECT_EQ(memo("Memo1")->lines().last(), "Скорость: cbr56000 (57600)");
    type(QStringLiteral("115000"));
    EXPECT_EQ(memo("Memo1")->lines().last(), "Скорость: 115000 (115200)");
    calls.clear();
    type(QStringLiteral("250000"));
    EXPECT_EQ(calls, QStringList({"Ошибка: Error updating DataControlBlock (Error: 22) "}));
    EXPECT_EQ(speed->text(), "115000 (115200)");
    click("SpeedButton1");
    EXPECT_EQ(speed->text(), "115000") << "a closed port runs no rate";
}

TEST_F(Terminal, MenuItemsClickTheirButtonsOnceAndF12WritesRegisterTwo) {
    usePty();
    action("N11")->trigger();
    EXPECT_TRUE(page->Comm1().IsOpen());
    action("XON1")->trigger();
    EXPECT_EQ(button("SpeedButton4")->property("Transparent"), false);
    action("BREK1")->trigger();
    EXPECT_EQ(button("SpeedButton3")->property("Transparent"), true);

    child<QLineEdit>("Edit16")->setText(QStringLiteral("7"));
    action("N14")->trigger();
    EXPECT_EQ(host.ports[port(2)], 7);
    char byte = 0;
    EXPECT_EQ(::read(pty->master, &byte, 1), -1) << "F12 sends nothing on the line";

    action("NRTS")->trigger();
    EXPECT_TRUE(action("NRTS")->isChecked()) << "flipped once, by the item itself";
    action("N11")->trigger();
    EXPECT_FALSE(page->Comm1().IsOpen());
}

}  // namespace
}  // namespace terminal_test
