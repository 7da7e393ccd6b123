#include "app/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTimer>
#include <QToolTip>
#include <memory>

#include "app/log_pane.h"
#include "app_fixture.h"
#include "monitor/register_monitor.h"
#include "portio/port_io.h"

namespace {

using ::testing::ElementsAre;

const QString kPortsHeading = QStringLiteral("Колличество установленных СОМ портов:");

class MainWindow : public app_test::AppFixture {
protected:
    std::unique_ptr<app::TForm1> makeWindow() {
        return std::make_unique<app::TForm1>(host, [this] { return ports; });
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
    QTimer* poll = window->registerMonitor().timer();
    ASSERT_TRUE(poll->isActive());
    window->close();
    EXPECT_FALSE(poll->isActive());
    EXPECT_EQ(window->PortIO1(), nullptr);
    EXPECT_FALSE(window->OpenDriver());
}

TEST_F(MainWindow, PollStartsOnlyWithTheFirstActivation) {
    auto window = makeWindow();
    EXPECT_FALSE(window->registerMonitor().timer()->isActive());
    window->show();
    settle();
    EXPECT_TRUE(window->isActiveWindow());
    EXPECT_TRUE(window->registerMonitor().timer()->isActive());
}

TEST_F(MainWindow, ActivationSetsLimeHintsAndReturningFromAnotherWindowRunsItAgain) {
    QPalette plain = QToolTip::palette();
    plain.setColor(QPalette::ToolTipBase, Qt::yellow);
    QToolTip::setPalette(plain);

    auto window = startWindow();
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(0, 255, 0));
    const int afterFirst = window->rightLog().textLength();

    QWidget viewer;
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
    EXPECT_EQ(menus,
              QStringList({"N1 Файл", "N8 Правка", "N2 Порт", "N3 Управление", "N4 Помощь"}));

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
