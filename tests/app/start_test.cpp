#include "app/start.h"

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/log_pane.h"
#include "app/main_window.h"
#include "app/splash_window.h"
#include "app_fixture.h"
#include "driver/driver_window.h"
#include "help/about_window.h"
#include "log/find_dialog.h"
#include "log/viewer_window.h"
#include "pseudo_terminal.h"
#include "terminal/terminal_page.h"

namespace {

// Notes which top-level windows have been painted.
class PaintWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType())
            painted.insert(static_cast<QWidget*>(watched)->window()->objectName());
        return false;
    }
    QSet<QString> painted;
};

app::TForm1* mainWindow() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* form = qobject_cast<app::TForm1*>(window)) return form;
    return nullptr;
}

bool mainWindowExists() {
    return mainWindow() != nullptr;
}

// Notes every window that comes up.
class ShowWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            shown << watched->objectName();
        return false;
    }
    QStringList shown;
};

class Start : public app_test::AppFixture {};

TEST_F(Start, WindowsComeUpInOrderWithTheSplashOnScreenFirst) {
    QCoreApplication::setApplicationName(QStringLiteral("app_tests"));
    PaintWatch paints;
    qApp->installEventFilter(&paints);
    QStringList order;
    bool splashUpBeforeMain = false;
    QString titleAtMain;
    const auto program = app::startProgram(host, [&](QWidget& created) {
        order << created.objectName();
        if (created.objectName() == "Form4")
            splashUpBeforeMain =
                created.isVisible() && paints.painted.contains("Form4") && !mainWindowExists();
        if (created.objectName() == "Form1") titleAtMain = QCoreApplication::applicationName();
    });
    qApp->removeEventFilter(&paints);

    EXPECT_EQ(order, QStringList({"Form4", "Form1", "Form2", "Form3", "Form5"}));
    EXPECT_TRUE(splashUpBeforeMain);
    EXPECT_EQ(titleAtMain, "QUILLMOR");
    EXPECT_TRUE(program->Form1->isVisible());
    EXPECT_FALSE(program->Form2->isVisible());
    EXPECT_EQ(program->Form2->windowTitle(), "Просмотр");
    EXPECT_FALSE(program->Form3->isVisible());
    EXPECT_FALSE(program->Form5->isVisible());
    EXPECT_EQ(program->Form3->windowTitle(), "О программе");
    EXPECT_EQ(program->Form5->windowTitle(), QString(46, u' ') + "Установка драйвера");
}

TEST_F(Start, AboutAndDriverWindowsHaveTheirPictures) {
    const auto program = app::startProgram(host);
    const std::pair<QWidget*, const char*> pictures[] = {{program->Form3.get(), "Image1"},
                                                         {program->Form3.get(), "Image2"},
                                                         {program->Form5.get(), "Image1"}};
    for (const auto& [window, name] : pictures) {
        const auto* picture = window->findChild<QLabel*>(name);
        ASSERT_NE(picture, nullptr) << name;
        EXPECT_FALSE(picture->pixmap().isNull()) << window->objectName().toStdString() << name;
    }
}

// Qt's own dialogs speak the language of the windows around them.
TEST_F(Start, SaveDialogOfTheLogSpeaksRussian) {
    const auto program = app::startProgram(host);
    settle();
    QString title;
    QString cancel;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        title = dialog->windowTitle();
        if (const auto* buttons = dialog->findChild<QDialogButtonBox*>())
            cancel = buttons->button(QDialogButtonBox::Cancel)->text();
        dialog->reject();
    });
    program->Form1->findChild<QToolButton*>(QStringLiteral("SpeedButton29"))->click();
    EXPECT_EQ(title, "Сохранить как");
    EXPECT_EQ(cancel, "Отмена");
}

TEST_F(Start, ViewerSoundsItsActivationToneThroughTheMainWindow) {
    const auto program = app::startProgram(host);
    settle();
    const int speakerWritesBefore = host.speakerPortWrites;
    program->Form2->showViewer(false);
    settle();
    EXPECT_TRUE(program->Form2->isActiveWindow());
    EXPECT_GT(host.speakerPortWrites, speakerWritesBefore);
}

TEST_F(Start, SplashIsFramelessOnTopAndSizedToItsPicture) {
    app::TForm4 splash;
    EXPECT_EQ(splash.size(), QSize(404, 302));
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(splash.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(splash.findChild<QTimer*>("Timer1")->isActive());
    EXPECT_EQ(splash.findChild<QTimer*>("Timer1")->timerType(), Qt::PreciseTimer);
}

TEST_F(Start, SplashClosesAtItsTimeAndTriesTheDriverAgain) {
    const auto program = app::startProgram(host);
    settle();
    const int opensBefore = host.opens;
    program->Form4->Timer1Timer();
    EXPECT_FALSE(program->Form4->isVisible());
    EXPECT_FALSE(program->Form4->findChild<QTimer*>("Timer1")->isActive());
    EXPECT_EQ(host.opens, opensBefore + 1);
}

// The installer comes up by itself, uncovered, and says at once why real ports are out of
// reach and what to do, before the user has pressed anything.
TEST_F(Start, DriverStillMissingWhenTheSplashClosesBringsUpTheInstallerModallyWithTheReason) {
    host.driverPresent = false;
    host.trouble = {platform::PortObstacle::NotInGroup, "/dev/port", ""};
    const auto program = app::startProgram(host);
    settle();
    QString modal;
    bool splashOverIt = true;
    QString log;
    QTimer::singleShot(0, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            modal = dialog->objectName();
            splashOverIt = program->Form4->isVisible();
            log = program->Form5->Memo1().toPlainText();
            dialog->close();
        }
    });
    program->Form4->Timer1Timer();
    EXPECT_EQ(modal, "Form5");
    EXPECT_FALSE(splashOverIt) << "the splash stays on top of the installer";
    EXPECT_TRUE(log.contains("sudo adduser $USER quillmor") && log.contains("войдите снова"))
        << log.toStdString();
    EXPECT_FALSE(program->Form5->isVisible());
    // Shown again from the menu, the window does not repeat what its log already says.
    QTimer::singleShot(0, [] {
        if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
    });
    program->Form1->N20Click();
    EXPECT_EQ(program->Form5->Memo1().toPlainText(), log);
}

TEST_F(Start, SplashStaysWhenTheMainWindowIsNotVisible) {
    const auto program = app::startProgram(host);
    program->Form1->hide();
    const int opensBefore = host.opens;
    program->Form4->Timer1Timer();
    EXPECT_TRUE(program->Form4->isVisible());
    EXPECT_EQ(host.opens, opensBefore);
}

// The whole program, event loop and all: Ctrl+X a second after the start, the splash still
// up. The program ends, and no window comes up on the way, the driver installation window least
// of all: the driver works.
TEST_F(Start, ClosingTheMainWindowUnderTheSplashEndsTheProgramWithNoOtherWindow) {
    ShowWatch after;
    bool splashUp = false;
    QTimer exitKey;
    exitKey.setSingleShot(true);
    QObject::connect(&exitKey, &QTimer::timeout, [&] {
        app::TForm1* form = mainWindow();
        ASSERT_NE(form, nullptr);
        for (const QWidget* window : QApplication::topLevelWidgets())
            splashUp = splashUp || (window->objectName() == "Form4" && window->isVisible());
        qApp->installEventFilter(&after);
        QTest::keyClick(form, Qt::Key_X, Qt::ControlModifier);
    });
    exitKey.start(1000);
    // A window that holds the program modally is closed, so the test can tell about it.
    QTimer unblock;
    QObject::connect(&unblock, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    unblock.start(100);
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    giveUp.start(10000);

    EXPECT_EQ(app::runProgram(host), 0);
    qApp->removeEventFilter(&after);
    EXPECT_TRUE(splashUp);
    EXPECT_TRUE(after.shown.isEmpty()) << after.shown.join(", ").toStdString();
    EXPECT_FALSE(mainWindowExists());
}

// Searching the right pane: coming back from the find dialog to the main window leaves the pane
// and the match just selected as they are, while coming back from the viewer, a window of the
// program, is an activation and logs the base again.
TEST_F(Start, ComingBackFromTheFindDialogKeepsTheMatchAndFromTheViewerLogsTheBase) {
    const auto program = app::startProgram(host);
    settle();
    app::TForm1& form = *program->Form1;
    const auto baseLines = [&form] {
        return form.rightLog().toPlainText().count(QStringLiteral("Базовый регистр порта"));
    };
    ASSERT_EQ(baseLines(), 1);
    form.findChild<QRadioButton*>(QStringLiteral("RadioButton2"))->click();
    QTest::keyClick(&form, Qt::Key_F, Qt::ControlModifier);
    settle();
    auto* find = form.findChild<logs::FindDialog*>(QStringLiteral("FindDialog1"));
    ASSERT_TRUE(find->isActiveWindow());
    find->setFindText(QStringLiteral("портов"));
    find->findNext();
    find->reject();
    form.activateWindow();
    settle();
    ASSERT_TRUE(form.isActiveWindow());
    EXPECT_EQ(form.rightLog().textCursor().selectedText(), "портов");
    EXPECT_EQ(baseLines(), 1);

    program->Form2->showViewer(false);
    settle();
    form.activateWindow();
    settle();
    EXPECT_EQ(baseLines(), 2);
}

// Every text the program puts into the status bar shows whole, however wide the font at hand
// makes it: the states of register input, the serial line's state with a long device path and
// the hint of every control.
TEST_F(Start, StatusBarShowsEveryTextWhole) {
    const auto program = app::startProgram(host);
    settle();
    app::TForm1& form = *program->Form1;
    QStringList cut;
    const auto check = [&cut](const QLabel& panel) {
        settle();
        if (panel.contentsRect().width() < panel.fontMetrics().horizontalAdvance(panel.text()))
            cut << panel.text();
    };
    for (const char* item : {"N25", "N25", "N19"}) {
        form.findChild<QAction*>(QString::fromUtf8(item))->trigger();
        check(form.statusPanel(1));
    }

    const commtest::PseudoTerminal line;
    ASSERT_GE(line.master, 0);
    QTemporaryDir folder;
    const QString device = folder.filePath(QStringLiteral("line-to-the-modem-on-the-bench"));
    ASSERT_TRUE(QFile::link(QString::fromStdString(line.path), device));
    form.findChild<QComboBox*>(QStringLiteral("ComboBox2"))->setEditText(device);
    auto* openClose = form.findChild<QToolButton*>(QStringLiteral("SpeedButton1"));
    for (int press = 0; press < 2; ++press) {
        openClose->click();
        check(form.statusPanel(2));
    }
    EXPECT_TRUE(form.statusPanel(2).text().endsWith(device));

    for (QWidget* control : form.findChildren<QWidget*>()) {
        if (control->statusTip().isEmpty()) continue;
        QStatusTipEvent hint(control->statusTip());
        QCoreApplication::sendEvent(control, &hint);
        check(form.statusPanel(0));
    }
    EXPECT_TRUE(cut.isEmpty()) << cut.join(" | ").toStdString();
}

// Hints of every length come and go in panel 0, and panel 1 changes its text with the input
// lock; panels 1 and 2 stay where they are.
TEST_F(Start, StatusBarPanelsKeepStillAsTheirTextsChange) {
    const auto program = app::startProgram(host);
    settle();
    app::TForm1& form = *program->Form1;
    const auto places = [&form] {
        settle();
        return std::pair(form.statusPanel(1).geometry(), form.statusPanel(2).geometry());
    };
    const auto before = places();
    QStringList moved;
    for (QWidget* control : form.findChildren<QWidget*>()) {
        if (control->statusTip().isEmpty()) continue;
        QStatusTipEvent hint(control->statusTip());
        QCoreApplication::sendEvent(control, &hint);
        if (places() != before) moved << control->statusTip();
    }
    for (const char* item : {"N25", "N19", "N19", "N25"}) {
        form.findChild<QAction*>(QString::fromUtf8(item))->trigger();
        if (places() != before) moved << form.statusPanel(1).text();
    }
    EXPECT_TRUE(moved.isEmpty()) << moved.join(" | ").toStdString();
}

// Under the input lock the sixteen write buttons look disabled, although the hint highlighter
// gives their captions a colour of its own.
TEST_F(Start, InputLockGreysTheWriteButtonsCaptions) {
    const auto program = app::startProgram(host);
    settle();
    app::TForm1& form = *program->Form1;
    form.findChild<QAction*>(QStringLiteral("N25"))->trigger();
    QTest::qWait(300);
    const QColor greyed = QApplication::palette().color(QPalette::Disabled, QPalette::ButtonText);
    ASSERT_NE(greyed, QColor(Qt::black));
    for (int number = 7; number <= 22; ++number) {
        const auto* button =
            form.findChild<QToolButton*>(QStringLiteral("SpeedButton%1").arg(number));
        ASSERT_NE(button, nullptr);
        EXPECT_FALSE(button->isEnabled()) << number;
        EXPECT_EQ(button->palette().color(QPalette::Disabled, QPalette::ButtonText), greyed)
            << number;
    }
}

// With fonts at 150 % the window's layout needs more than the 1600 x 1000 screen: the window
// still fits the screen, and Tab reaches every control and scrolls it into view, then comes
// back to where it started, through the log panes, without being kept in one. The focus starts
// on the first control, not in a log pane. On the terminal page Tab goes as the controls stand,
// row by row and left to right. Ctrl+Tab types a tab character into a log pane.
TEST_F(Start, TabReachesEveryControlInReadingOrderWithLargeFonts) {
    struct LargeFonts {
        const QFont normal = QApplication::font();
        LargeFonts() {
            QFont large = normal;
            large.setPointSizeF(normal.pointSizeF() * 1.5);
            QApplication::setFont(large);
        }
        ~LargeFonts() { QApplication::setFont(normal); }
    } largeFonts;
    const auto program = app::startProgram(host);
    settle();
    app::TForm1& form = *program->Form1;
    const QRect screen = form.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(form.frameGeometry())) << form.width() << "x" << form.height();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QWidget* const first = QApplication::focusWidget();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(qobject_cast<app::LogPane*>(first), nullptr) << first->objectName().toStdString();

    QList<QWidget*> walk{first};
    QStringList hidden;
    for (int press = 0; press < 500; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        settle();
        QWidget* control = QApplication::focusWidget();
        if (control == first) break;
        walk << control;
        // A text box's own area is all covered by the view that shows its text.
        const auto* box = qobject_cast<QAbstractScrollArea*>(control);
        const QWidget* face = box ? box->viewport() : control;
        const QPoint centre = face->rect().center();
        if (!face->visibleRegion().contains(centre) || !screen.contains(face->mapToGlobal(centre)))
            hidden << control->objectName() + "/" + control->parentWidget()->objectName();
    }
    ASSERT_EQ(QApplication::focusWidget(), first) << "Tab never came back";
    EXPECT_TRUE(hidden.isEmpty()) << hidden.join(" ").toStdString();
    EXPECT_TRUE(walk.contains(&form.leftLog()));
    EXPECT_TRUE(walk.contains(&form.rightLog()));

    auto* terminal = form.findChild<QWidget*>(QStringLiteral("GroupBox19"));
    const auto place = [terminal](const QWidget* control) {
        return QRect(control->mapTo(terminal, QPoint()), control->size());
    };
    QStringList outOfOrder;
    int terminalStops = 0;
    const QWidget* previous = nullptr;
    for (const QWidget* control : walk) {
        if (!terminal->isAncestorOf(control)) continue;
        ++terminalStops;
        if (previous) {
            const QRect before = place(previous);
            const QRect here = place(control);
            const bool below = here.top() > before.bottom();
            const bool sameRowRight = here.top() <= before.bottom() &&
                                      here.bottom() >= before.top() && here.left() > before.right();
            if (!below && !sameRowRight)
                outOfOrder << previous->objectName() + " > " + control->objectName();
        }
        previous = control;
    }
    EXPECT_GE(terminalStops, 14);
    EXPECT_TRUE(outOfOrder.isEmpty()) << outOfOrder.join(", ").toStdString();

    form.leftLog().setFocus();
    QTest::keyClick(&form.leftLog(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_TRUE(form.leftLog().toPlainText().contains(QLatin1Char('\t')));
}

// Ctrl+R frees the window's size and Ctrl+R again fits it to its contents, which would be wider
// than the screen; the window stays within the screen's available area.
TEST_F(Start, AutomaticSizingKeepsTheWindowWithinTheScreen) {
    const auto program = app::startProgram(host);
    settle();
    app::TForm1& form = *program->Form1;
    for (int press = 0; press < 2; ++press) {
        QTest::keyClick(&form, Qt::Key_R, Qt::ControlModifier);
        settle();
    }
    ASSERT_FALSE(form.findChild<QAction*>(QStringLiteral("N24"))->isChecked());
    const QSize room = form.screen()->availableSize();
    EXPECT_LE(form.frameGeometry().width(), room.width());
    EXPECT_LE(form.frameGeometry().height(), room.height());
}

// The status bar shows the hint of the control under the pointer; the program's highlighter
// follows it with the terminal's buttons too, whose hint changes with the port's state.
TEST_F(Start, TerminalButtonIsHighlightedWhileItsHintIsShown) {
    const auto program = app::startProgram(host);
    settle();
    auto* open = program->Form1->findChild<QToolButton*>(QStringLiteral("SpeedButton1"));
    ASSERT_NE(open, nullptr);
    const auto caption = [open] { return open->palette().color(open->foregroundRole()); };
    const auto showHint = [&](const QString& hint) {
        QStatusTipEvent tip(hint);
        QCoreApplication::sendEvent(program->Form1.get(), &tip);
    };
    const auto captionBecomes = [&](const QColor& colour) {
        QElapsedTimer since;
        since.start();
        while (caption() != colour && since.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return caption() == colour;
    };
    showHint(open->statusTip());
    EXPECT_TRUE(captionBecomes(Qt::red));
    showHint(QString());
    EXPECT_TRUE(captionBecomes(Qt::black));
}

TEST_F(Start, TerminalHelpButtonShowsTheUartHelpInTheModalViewer) {
    // The help files are looked for in the current folder first.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("Doc")));
    QFile help(folder.filePath(QStringLiteral("Doc/uart.txt")));
    ASSERT_TRUE(help.open(QIODevice::WriteOnly));
    help.write("UART \xCF\xCE\xCC\xCE\xD9\xDC\r\n");  // "ПОМОЩЬ" in Windows-1251
    help.close();
    const QString before = QDir::currentPath();
    QDir::setCurrent(folder.path());

    const auto program = app::startProgram(host);
    settle();
    QString shownCaption;
    QString shownText;
    bool shownModal = false;
    QTimer::singleShot(0, [&] {
        shownCaption = program->Form2->windowTitle();
        shownText = program->Form2->RichEdit1().toPlainText();
        shownModal = program->Form2->isModal();
        program->Form2->close();
    });
    program->Form1->terminalPage().helpButton().click();
    QDir::setCurrent(before);
    EXPECT_EQ(shownCaption, "Работа с панелью приёмопередатчиком UART");
    EXPECT_TRUE(shownText.startsWith("UART ПОМОЩЬ")) << shownText.toStdString();
    EXPECT_TRUE(shownModal);
}

}  // namespace
