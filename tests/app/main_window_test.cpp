#include "app/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <memory>

#include "app/log_pane.h"
#include "app_fixture.h"
#include "driver/driver_window.h"
#include "log/viewer_window.h"
#include "monitor/register_monitor.h"
#include "portio/port_io.h"

namespace {

using ::testing::ElementsAre;

const QString kPortsHeading = QStringLiteral("Колличество установленных СОМ портов:");

class MainWindow : public app_test::AppFixture {
protected:
    std::unique_ptr<app::TForm1> makeWindow() {
        return std::make_unique<app::TForm1>(
            host, [this] { return ports; },
            [] {
                return monitor::TimeOfDay{12, 34, 56};
            });
    }
    std::unique_ptr<app::TForm1> startWindow() {
        auto window = makeWindow();
        window->show();
        settle();
        return window;
    }

    QCheckBox* checkBox(app::TForm1& window, const char* name) {
        return window.findChild<QCheckBox*>(QString::fromUtf8(name));
    }
    QAction* action(app::TForm1& window, const char* name) {
        return window.findChild<QAction*>(QString::fromUtf8(name));
    }
    QStringList rightLogLines(app::TForm1& window) {
        return window.rightLog().toPlainText().split(u'\n', Qt::SkipEmptyParts);
    }

    std::vector<std::string> ports = {"COM1", "COM3"};
};

TEST_F(MainWindow, FirstRunCreatesTheKeyAtShowAndStoresThreeIntegersAtClose) {
    auto window = startWindow();
    EXPECT_TRUE(QFile::exists(settingsFile()));
    window->close();

    QSettings stored(settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value("Speeker").toString(), "1");
    EXPECT_EQ(stored.value("DataControl").toString(), "1");
    EXPECT_EQ(stored.value("ModalShow").toString(), "1");
}

TEST_F(MainWindow, StoredValuesSetTheControlsAndAnyNonZeroIntegerIsTrue) {
    writeSettingsFile("[General]\nSpeeker=0\nDataControl=0\nModalShow=-7\n");
    auto window = startWindow();
    EXPECT_FALSE(action(*window, "N22")->isChecked());
    EXPECT_FALSE(checkBox(*window, "CheckBox2")->isChecked());
    EXPECT_TRUE(checkBox(*window, "CheckBox3")->isChecked());

    checkBox(*window, "CheckBox3")->setChecked(false);
    window->close();
    QSettings stored(settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(stored.value("ModalShow").toString(), "0");
    EXPECT_EQ(stored.value("DataControl").toString(), "0");
}

TEST_F(MainWindow, ValueThatIsNotAnIntegerStopsTheShowAtThatValue) {
    writeSettingsFile("[General]\nSpeeker=0\nDataControl=yes\nModalShow=0\n");
    auto window = startWindow();
    EXPECT_FALSE(action(*window, "N22")->isChecked());
    EXPECT_TRUE(checkBox(*window, "CheckBox2")->isChecked());
    EXPECT_TRUE(checkBox(*window, "CheckBox3")->isChecked());
    EXPECT_FALSE(rightLogLines(*window).contains(kPortsHeading));
}

TEST_F(MainWindow, ValueBeyondThirtyTwoBitsIsNotAnInteger) {
    writeSettingsFile("[General]\nSpeeker=4294967296\nDataControl=0\n");
    auto window = startWindow();
    EXPECT_TRUE(action(*window, "N22")->isChecked());
    EXPECT_TRUE(checkBox(*window, "CheckBox2")->isChecked());
}

// A folder where the settings file should be can be neither read nor written, even by root.
TEST_F(MainWindow, UnusableSettingsFileKeepsDefaultsAndStillClosesFully) {
    ASSERT_TRUE(QDir().mkpath(settingsFile()));
    auto window = startWindow();
    EXPECT_TRUE(checkBox(*window, "CheckBox2")->isChecked());
    EXPECT_FALSE(rightLogLines(*window).contains(kPortsHeading));

    QSignalSpy closed(window.get(), &app::TForm1::closed);
    host.speakerPortWrites = 0;
    window->close();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(host.speakerPortWrites, 6);
    EXPECT_EQ(window->PortIO1(), nullptr);
}

TEST_F(MainWindow, ShowListsTheSerialPortsUnderTheHeading) {
    auto window = startWindow();
    const QStringList lines = rightLogLines(*window);
    const qsizetype heading = lines.indexOf(kPortsHeading);
    ASSERT_GE(heading, 0);
    EXPECT_EQ(lines.mid(heading + 1, 2), QStringList({"COM1", "COM3"}));
}

TEST_F(MainWindow, WithNoPortsTheHeadingStandsAlone) {
    ports.clear();
    auto window = startWindow();
    const QStringList lines = window->rightLog().toPlainText().split(u'\n');
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), kPortsHeading);
    EXPECT_TRUE(lines.value(1).isEmpty());
}

TEST_F(MainWindow, ShowReportsWhetherTheDriverOpened) {
    auto window = startWindow();
    EXPECT_EQ(action(*window, "N19")->text(), "Закрыть драйвер");
    EXPECT_EQ(window->statusPanel(1).text(), "Ввод данных в регистры доступен");

    host.driverPresent = false;
    auto withoutDriver = startWindow();
    EXPECT_EQ(action(*withoutDriver, "N19")->text(), "Открыть драйвер");
    EXPECT_EQ(withoutDriver->statusPanel(1).text(), "Ввод данных в регистры запрещён");
}

TEST_F(MainWindow, CloseSoundsThreeTonesOnlyWhileConfirmationsAreOn) {
    auto window = startWindow();
    host.speakerPortWrites = 0;
    host.sleptMs = 0;
    window->close();
    // Each tone switches the speaker gate on and off again.
    EXPECT_EQ(host.speakerPortWrites, 6);
    EXPECT_EQ(host.sleptMs, 450u);

    auto silent = startWindow();
    action(*silent, "N22")->setChecked(false);
    host.speakerPortWrites = 0;
    silent->close();
    EXPECT_EQ(host.speakerPortWrites, 0);
}

TEST_F(MainWindow, ConfirmToneIsSilentWhenTheDriverDoesNotOpen) {
    auto window = startWindow();
    host.driverPresent = false;
    host.speakerPortWrites = 0;
    window->ConfirmTone(1000, 50);
    EXPECT_EQ(host.speakerPortWrites, 0);
    EXPECT_EQ(host.sleptMs, 0u);
}

TEST_F(MainWindow, CloseStopsThePollBeforePortIoGoes) {
    auto window = startWindow();
    monitor::PollTimer* poll = window->registerMonitor().timer();
    ASSERT_TRUE(poll->isActive());
    window->close();
    EXPECT_FALSE(poll->isActive());
    EXPECT_EQ(window->PortIO1(), nullptr);
    EXPECT_FALSE(window->OpenDriver());
}

// A window manager that keeps new windows from the focus may activate the window late or never.
// The registers are live from the show all the same, read at the preset's base: ports 0-7 (a
// PC's DMA controller) are never read for want of one.
TEST_F(MainWindow, RegistersAreLiveFromTheShowThoughNoActivationComes) {
    auto window = makeWindow();
    QObject::disconnect(qGuiApp, &QGuiApplication::focusWindowChanged, window.get(), nullptr);
    for (uint16_t port = 0; port < 8; ++port) host.ports[port] = 0x99;
    host.ports[0x3F8] = 0x41;
    auto* hex = window->findChild<QLineEdit*>("Edit3");
    QStringList hexShown;
    QObject::connect(hex, &QLineEdit::textChanged,
                     [&hexShown](const QString& text) { hexShown << text; });
    EXPECT_FALSE(window->registerMonitor().timer()->isActive());

    window->show();
    QElapsedTimer since;
    since.start();
    while (hex->text() != "$41" && since.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(hexShown, QStringList({"$41"}));
    EXPECT_EQ(window->findChild<QLineEdit*>("Edit4")->text(), "65");
    EXPECT_EQ(window->findChild<QToolButton*>("SpeedButton7")->text(), "$3F8");
    // The base lines are the activation's, and none came.
    EXPECT_FALSE(window->rightLog().toPlainText().contains("Базовый регистр"));
}

TEST_F(MainWindow, ActivationSetsLimeHintsAndReturningFromAnotherWindowRunsItAgain) {
    QPalette plain = QToolTip::palette();
    plain.setColor(QPalette::ToolTipBase, Qt::yellow);
    QToolTip::setPalette(plain);

    auto window = startWindow();
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(0, 255, 0));
    const int afterFirst = window->rightLog().textLength();

    QWidget viewer;
    window->setProgramWindows({&viewer});
    viewer.show();
    viewer.activateWindow();
    settle();
    EXPECT_EQ(window->rightLog().textLength(), afterFirst);
    window->activateWindow();
    settle();
    EXPECT_GT(window->rightLog().textLength(), afterFirst);
}

TEST_F(MainWindow, ComingBackFromAnotherProgramIsNoActivation) {
    auto window = startWindow();
    const int afterFirst = window->rightLog().textLength();
    window->focusWindowChanged(nullptr);
    window->focusWindowChanged(window->windowHandle());
    EXPECT_EQ(window->rightLog().textLength(), afterFirst);
}

TEST_F(MainWindow, StatusPanelZeroShowsTheHintOfTheControlUnderTheMouse) {
    auto window = makeWindow();
    for (int panel = 0; panel < 3; ++panel)
        EXPECT_TRUE(window->statusPanel(panel).text().isEmpty());
    QStatusTipEvent hint(QStringLiteral("Смотреть LOG файл в модальном окне"));
    QCoreApplication::sendEvent(checkBox(*window, "CheckBox3"), &hint);
    EXPECT_EQ(window->statusPanel(0).text(), "Смотреть LOG файл в модальном окне");
}

TEST_F(MainWindow, LayoutNamesAndStartPage) {
    auto window = makeWindow();
    EXPECT_EQ(window->windowTitle(), "  QUILLMOR");
    auto* pages = window->findChild<QTabWidget*>("PageControl1");
    ASSERT_NE(pages, nullptr);
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->currentWidget()->objectName(), "TabSheet1");
    EXPECT_EQ(pages->tabText(1), "UART контр.");
    EXPECT_EQ(checkBox(*window, "CheckBox3")->text(), "Mодал. окно");
    EXPECT_EQ(window->findChild<QLabel*>("Image2")->size(), QSize(132, 34));
    EXPECT_FALSE(window->findChild<QLabel*>("Image1")->pixmap().isNull());
}

// Each menu as "name caption [shortcut]" rows, "-" for a separator, "> " for a submenu item.
QStringList menuRows(const QMenu& menu, const QString& indent = {}) {
    QStringList rows;
    for (const QAction* item : menu.actions()) {
        if (item->isSeparator()) {
            rows << indent + "-";
            continue;
        }
        QString row = indent + item->objectName() + " " + item->text();
        if (!item->shortcut().isEmpty()) row += " [" + item->shortcut().toString() + "]";
        if (item->isCheckable()) row += item->isChecked() ? " (on)" : " (off)";
        if (item->menu()) {
            rows << indent + item->menu()->objectName() + " " + item->text();
            rows << menuRows(*item->menu(), indent + "> ");
            continue;
        }
        rows << row;
    }
    return rows;
}

TEST_F(MainWindow, MenuBarHasEveryItemWithItsCaptionShortcutAndSeparators) {
    auto window = makeWindow();
    QStringList menus;
    for (const QAction* top : window->menuBar()->actions())
        menus << top->menu()->objectName() + " " + top->text();
    EXPECT_EQ(menus, QStringList({"N1 Файл", "N8 Правка", "N2 Порт", "N3 Управление",
                                  "NData Данные", "N4 Помощь"}));

    const auto rows = [&](const char* name) {
        const auto* menu = window->findChild<QMenu*>(QString::fromUtf8(name));
        return menu ? menuRows(*menu) : QStringList({"no menu"});
    };
    EXPECT_EQ(rows("N1"),
              QStringList({"N5 Открыть LOG файл [Ctrl+O]", "LOG1 Сохранить LOG как... [Ctrl+S]",
                           "-", "N6 Выход [Ctrl+X]"}));
    EXPECT_EQ(rows("N8"),
              QStringList({"CLOG1 Cмотреть LOG [F2]", "N9 Поиск [Ctrl+F]", "-",
                           "LOG2 Очистить LOG [Ctrl+Del]", "-", "N24 Изменить размер [Ctrl+R]"}));
    EXPECT_EQ(rows("N2"), QStringList({"N25 Запретить ввод с контроллера [Shift+F12] (off)"}));
    EXPECT_EQ(
        rows("N3"),
        QStringList({"-", "N11 Подключить / отключить приёмопередатчик к COM  [Ins]", "-",
                     "N14 Передача [F12]", "-", "XON1 XON [Ctrl+Alt+X]", "BREK1 BREK [Ctrl+Alt+B]",
                     "-", "N18 Активировать при подключении сигналы ", "> NRTS RTS (off)",
                     "> NDTR DTR (off)", "N19 Открыть  драйвер", "N20 Переустановить драйвер", "-",
                     "N22 Использов. звуковые подтвержд. [F4] (on)"}));
    EXPECT_EQ(rows("N4"), QStringList({"Help1 Help", "N16 О программе", "N26 Обратная связь",
                                       "N27 Благодарности", "N28 Срытый [F1]"}));
}

}  // namespace

namespace {

// The window as the user has it, with the poll stopped so each test ticks it itself.
class RegisterInput : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        window = startWindow();
        window->registerMonitor().timer()->stop();
        host.speakerPortWrites = 0;
        host.sleptMs = 0;
    }

    void tick() { window->registerMonitor().Timer1Timer(); }
    template <class T>
    T* child(const char* name) {
        return window->findChild<T*>(QString::fromUtf8(name));
    }
    bool panelsEnabled(bool enabled) {
        for (const char* name : {"Panel2", "Panel3", "Panel4", "Panel5"})
            if (child<QWidget>(name)->isEnabled() != enabled) return false;
        return true;
    }
    QStringList leftLines() { return window->leftLog().toPlainText().split(u'\n'); }

    std::unique_ptr<app::TForm1> window;
};

TEST_F(RegisterInput, LockDisablesThePanelsWhileThePollGoesOnAndUnlockRestores) {
    QAction* lock = action(*window, "N25");
    lock->trigger();
    EXPECT_TRUE(lock->isChecked());
    EXPECT_TRUE(panelsEnabled(false));
    EXPECT_EQ(window->statusPanel(1).text(), "Ввод данных в регистры запрещён");
    EXPECT_EQ(host.sleptMs, 400u + 150u);
    EXPECT_EQ(host.speakerPortWrites, 4);

    child<QLineEdit>("Edit5")->setText("$55");
    QTest::mouseClick(child<QToolButton>("SpeedButton7"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("Button8"), Qt::LeftButton);
    EXPECT_EQ(host.ports[0x3F8], 0);
    host.ports[0x3F8] = 0x41;
    tick();
    EXPECT_EQ(child<QLineEdit>("Edit3")->text(), "$41");

    host.sleptMs = 0;
    lock->trigger();
    EXPECT_FALSE(lock->isChecked());
    EXPECT_TRUE(panelsEnabled(true));
    EXPECT_EQ(window->statusPanel(1).text(), "Ввод данных в регистры доступен");
    EXPECT_EQ(host.sleptMs, 200u + 100u);
    QTest::mouseClick(child<QToolButton>("SpeedButton7"), Qt::LeftButton);
    EXPECT_EQ(host.ports[0x3F8], 0x55);
}

TEST_F(RegisterInput, ShiftF12FlipsTheLockOncePerPress) {
    QTest::keyClick(window.get(), Qt::Key_F12, Qt::ShiftModifier);
    EXPECT_TRUE(action(*window, "N25")->isChecked());
    EXPECT_TRUE(panelsEnabled(false));
    QTest::keyClick(window.get(), Qt::Key_F12, Qt::ShiftModifier);
    EXPECT_FALSE(action(*window, "N25")->isChecked());
    EXPECT_TRUE(panelsEnabled(true));
}

TEST_F(RegisterInput, WithTonesOffLockAndDataCheckBoxWorkInSilence) {
    action(*window, "N22")->setChecked(false);
    action(*window, "N25")->trigger();
    EXPECT_TRUE(panelsEnabled(false));
    EXPECT_EQ(window->statusPanel(1).text(), "Ввод данных в регистры запрещён");
    auto* dataControl = checkBox(*window, "CheckBox2");
    dataControl->click();
    EXPECT_FALSE(dataControl->isChecked());
    EXPECT_EQ(host.speakerPortWrites, 0);
    EXPECT_EQ(host.sleptMs, 0u);
}

TEST_F(RegisterInput, ThirdModemControlChangeLandsInTheLeftPaneAsTheExample) {
    for (uint8_t value : {0x01, 0x03, 0x0B}) {
        host.ports[0x3FC] = value;
        tick();
    }
    const QStringList lines = leftLines();
    ASSERT_GE(lines.size(), 8);
    EXPECT_EQ(lines.mid(lines.size() - 8),
              QStringList({
                  "",
                  " [ 3 ]    Управление модемом:  регистр  $3FC",
                  "",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 1 ]    ON  >  DTR",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 2 ]    ON  >  RTS",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 4 ]    OFF >  OUT1",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 8 ]    ON  >  OUT2",
                  " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 16 ]  OFF >  LOOP",
              }));
    // Three records of eight lines, and no empty line after the newest.
    EXPECT_EQ(lines.size(), 3 * 8);
}

TEST_F(RegisterInput, RecordTakesTheFocusAndBringsTheWindowBackFromTheViewer) {
    QWidget viewer;
    viewer.show();
    viewer.activateWindow();
    settle();
    ASSERT_FALSE(window->isActiveWindow());

    host.ports[0x3FB] = 0x03;
    tick();
    settle();
    EXPECT_TRUE(window->isActiveWindow());
    EXPECT_EQ(QApplication::focusWidget(), &window->leftLog());

    host.ports[0x3F8] = 0x03;
    tick();
    EXPECT_EQ(QApplication::focusWidget(), &window->rightLog());
}

TEST_F(RegisterInput, RegisterStormKeepsBothPanesBoundedWithTheNewestRecordWhole) {
    constexpr int kTicks = 1200;
    for (int n = 1; n <= kTicks; ++n) {
        for (uint16_t port = 0x3F8; port <= 0x3FE; ++port)
            host.ports[port] = static_cast<uint8_t>(n);
        tick();
    }
    for (app::LogPane* pane : {&window->leftLog(), &window->rightLog()})
        EXPECT_LE(pane->textLength(), app::kLogPaneLimit) << pane->objectName().toStdString();

    const QStringList left = leftLines();
    ASSERT_GE(left.size(), 11);
    const QStringList newest = left.mid(left.size() - 11);
    EXPECT_EQ(newest[0], "");
    EXPECT_EQ(newest[1], " [ 1200 ]    Состояние модема:  регистр  $3FE");
    EXPECT_EQ(newest[2], "");
    EXPECT_EQ(newest[3], " 12:34:56  $B0     1 0 1 1 0 0 0 0  : [ 6 ] > [ 1 ]    OFF >  DCTS");
    EXPECT_EQ(newest[10], " 12:34:56  $B0     1 0 1 1 0 0 0 0  : [ 6 ] > [128]  ON  >  DCD");
    // The oldest line left is whole: a record's empty line, a header or a bit line.
    EXPECT_TRUE(left[0].isEmpty() || left[0].startsWith(" [ ") ||
                left[0].startsWith(" 12:34:56  $"))
        << left[0].toStdString();

    const QStringList right = window->rightLog().toPlainText().split(u'\n');
    EXPECT_EQ(right.last(), " 12:34:56   $B0      1 0 1 1 0 0 0 0      [ 1200 ]     176");
    EXPECT_TRUE(right[0].startsWith(" 12:34:56   $")) << right[0].toStdString();
    for (const char* box : {"Edit11", "Edit12", "Edit21", "Edit22", "Edit39", "Edit40", "Edit41"})
        EXPECT_EQ(child<QLineEdit>(box)->property("Tag").toLongLong(), kTicks) << box;
    EXPECT_EQ(child<QLineEdit>("Edit42")->property("Tag").toLongLong(), 0);
}

}  // namespace

class DriverMenu : public RegisterInput {
protected:
    void trigger(const char* name) { action(*window, name)->trigger(); }
    QString n19Caption() { return action(*window, "N19")->text(); }
    QString registerInput() { return window->statusPanel(1).text(); }
};

TEST_F(DriverMenu, N19OnAnOpenDriverClosesItSilently) {
    ASSERT_TRUE(window->PortIO1()->Opened());
    trigger("N19");
    EXPECT_FALSE(window->PortIO1()->Opened());
    EXPECT_EQ(n19Caption(), "Открыть драйвер");
    EXPECT_EQ(registerInput(), "Ввод данных в регистры невозможен !");
    EXPECT_EQ(host.speakerPortWrites, 0);
}

TEST_F(DriverMenu, N19OnAClosedDriverOpensItWithTwoTones) {
    trigger("N19");
    trigger("N19");
    EXPECT_TRUE(window->PortIO1()->Opened());
    EXPECT_EQ(n19Caption(), "Закрыть драйвер");
    EXPECT_EQ(registerInput(), "Ввод данных в регистры доступен");
    EXPECT_EQ(host.sleptMs, 200u + 100u);
    EXPECT_EQ(host.speakerPortWrites, 4);
}

TEST_F(DriverMenu, N19OpeningLeavesTheStatusAloneWhileInputIsLocked) {
    trigger("N25");
    trigger("N19");
    trigger("N19");
    EXPECT_EQ(n19Caption(), "Закрыть драйвер");
    EXPECT_EQ(registerInput(), "Ввод данных в регистры невозможен !");
}

TEST_F(DriverMenu, N19FailedOpenKeepsCaptionAndStatusAndIsSilent) {
    trigger("N19");
    host.driverPresent = false;
    trigger("N19");
    EXPECT_FALSE(window->PortIO1()->Opened());
    EXPECT_EQ(n19Caption(), "Открыть драйвер");
    EXPECT_EQ(registerInput(), "Ввод данных в регистры невозможен !");
    EXPECT_EQ(host.sleptMs, 0u);
}

TEST_F(DriverMenu, N22SoundsOnlyWhenSwitchingTheTonesOff) {
    ASSERT_TRUE(action(*window, "N22")->isChecked());
    trigger("N22");
    EXPECT_FALSE(action(*window, "N22")->isChecked());
    EXPECT_EQ(host.sleptMs, 60u);
    EXPECT_EQ(host.speakerPortWrites, 2);

    host.sleptMs = 0;
    trigger("N22");
    EXPECT_TRUE(action(*window, "N22")->isChecked());
    EXPECT_EQ(host.sleptMs, 0u);
}

TEST_F(DriverMenu, F4FlipsTheTonesOncePerPress) {
    QTest::keyClick(window.get(), Qt::Key_F4);
    EXPECT_FALSE(action(*window, "N22")->isChecked());
    QTest::keyClick(window.get(), Qt::Key_F4);
    EXPECT_TRUE(action(*window, "N22")->isChecked());
}

TEST_F(DriverMenu, N20ShowsTheDriverWindowModally) {
    trigger("N20");  // no window set yet: nothing to show, nothing breaks

    logs::TForm2 viewer([](int, int) {});
    driver::TForm5 installer(window->driverLinks(), viewer);
    window->setDriverWindow(&installer);
    bool shownModally = false;
    QTimer::singleShot(0, &installer, [&] {
        shownModally = installer.isVisible() && installer.isModal();
        installer.close();
    });
    trigger("N20");
    EXPECT_TRUE(shownModally);
}

TEST_F(DriverMenu, DriverLinksReachPortIoStatusPanelAndN19) {
    const driver::MainWindowLinks links = window->driverLinks();
    EXPECT_EQ(links.PortIO1(), window->PortIO1());
    links.showRegisterInput(driver::RegisterInput::Impossible);
    links.setN19Caption(QStringLiteral("caption"));
    EXPECT_EQ(registerInput(), "Ввод данных в регистры невозможен !");
    EXPECT_EQ(n19Caption(), "caption");
    window->close();
    EXPECT_EQ(links.PortIO1(), nullptr);
}
