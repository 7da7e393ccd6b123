#include "log/viewer_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <utility>
#include <vector>

#include "log/find_dialog.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using Tones = std::vector<std::pair<int, int>>;

class Viewer : public ::testing::Test {
protected:
    void SetUp() override { QGuiApplication::clipboard()->clear(); }
    void TearDown() override { QGuiApplication::clipboard()->clear(); }

    static void settle() {
        for (int round = 0; round < 3; ++round) QCoreApplication::processEvents();
    }
    void showActive() {
        viewer.showViewer(false);
        settle();
        ASSERT_TRUE(viewer.isActiveWindow());
        box().setFocus();
    }
    QPlainTextEdit& box() { return viewer.RichEdit1(); }
    QAction& action(const char* name) {
        auto* found = viewer.findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return *found;
    }
    void select(int start, int length) {
        QTextCursor cursor = box().textCursor();
        cursor.setPosition(start);
        cursor.setPosition(start + length, QTextCursor::KeepAnchor);
        box().setTextCursor(cursor);
    }
    QStringList enabledEditActions() {
        QStringList names;
        for (const char* name :
             {"EditCopy1", "EditCut1", "EditDelete1", "EditPaste1", "EditSelectAll1", "EditUndo1"})
            if (action(name).isEnabled()) names << QString::fromLatin1(name);
        return names;
    }

    Tones tones;
    logs::TForm2 viewer{[this](int hz, int ms) { tones.emplace_back(hz, ms); }};
};

TEST_F(Viewer, StartsAsDesigned) {
    EXPECT_EQ(viewer.windowTitle(), "Просмотр");
    EXPECT_EQ(viewer.pos(), QPoint(170, 103));
    EXPECT_EQ(viewer.size(), QSize(504, 348));
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(box().objectName(), "RichEdit1");
    EXPECT_EQ(box().font().family(), "Arial");
    EXPECT_EQ(box().font().pointSize(), 10);
    EXPECT_TRUE(box().font().bold());
    EXPECT_EQ(box().palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_FALSE(box().isReadOnly());
    EXPECT_EQ(box().verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST_F(Viewer, MenuHoldsItsItemsInOrderWithTheirShortcuts) {
    QStringList menu;
    for (const QMenu* submenu : viewer.findChild<QMenuBar*>("MainMenu1")->findChildren<QMenu*>()) {
        menu << submenu->objectName() + " " + submenu->title();
        for (const QAction* item : submenu->actions())
            menu << "  " + item->objectName() + " " +
                        (item->isSeparator() ? QStringLiteral("-") : item->text()) + " " +
                        item->shortcut().toString();
    }
    EXPECT_EQ(menu,
              QStringList({"N1 Файл", "  N6 Выход Ctrl+X", "N2 Правка", "  N8 Поиск Ctrl+F",
                           "  N14 - ", "  N11 Копир\tCtrl+C ", "  N15 &Встав\tCtrl+V ",
                           "  N16 Выр \tCtrl+X ", "  N12 Выделит Все\tCtrl+A ", "  N17 - ",
                           "  N13 &Верн\tAlt+Backspace ", "N3 Вид", "  N9 Фон ", "  N10 Шрифт "}));
    EXPECT_EQ(action("N11").statusTip(), "Copy");
    EXPECT_EQ(action("N15").statusTip(), "Paste");
    EXPECT_EQ(action("N16").statusTip(), "Cut");
    EXPECT_EQ(action("EditDelete1").text(), "Удалить");
    EXPECT_EQ(action("EditDelete1").shortcut(), QKeySequence(Qt::Key_Delete));
}

TEST_F(Viewer, CtrlXClosesTheViewerInsteadOfCutting) {
    viewer.setText(QStringLiteral("DTR 1"));
    box().selectAll();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    showActive();
    viewer.setCaption(QStringLiteral("/tmp/com1.LOG.txt"));
    QTest::keyClick(&box(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(viewer.windowTitle(), "Просмотр");
    EXPECT_EQ(box().toPlainText(), "DTR 1");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
}

TEST_F(Viewer, CutStaysAvailableFromItsMenuItem) {
    viewer.setText(QStringLiteral("DTR 1"));
    select(0, 4);
    action("N16").trigger();
    EXPECT_EQ(box().toPlainText(), "1");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "DTR ");
}

TEST_F(Viewer, EditActionsAreEnabledOnlyWhenTheyCanAct) {
    EXPECT_TRUE(enabledEditActions().isEmpty());

    viewer.setText(QStringLiteral("RTS 0"));
    EXPECT_EQ(enabledEditActions(), QStringList{"EditSelectAll1"});

    select(0, 3);
    EXPECT_EQ(enabledEditActions(),
              QStringList({"EditCopy1", "EditCut1", "EditDelete1", "EditSelectAll1"}));

    // The clipboard is asked when the menu that shows the answer opens.
    QMenu& edit = *viewer.findChild<QMenu*>("N2");
    QGuiApplication::clipboard()->setText(QStringLiteral("x"));
    emit edit.aboutToShow();
    EXPECT_TRUE(action("EditPaste1").isEnabled());
    QGuiApplication::clipboard()->clear();
    emit edit.aboutToShow();
    EXPECT_FALSE(action("EditPaste1").isEnabled());
    // Ctrl+V needs no answer beforehand: text that came after the menu closed is pasted.
    QGuiApplication::clipboard()->setText(QStringLiteral("DSR "));
    showActive();
    box().moveCursor(QTextCursor::Start);
    QTest::keyClick(&box(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box().toPlainText(), "DSR RTS 0");
    viewer.setText(QStringLiteral("RTS 0"));
    select(0, 3);

    box().textCursor().insertText(QStringLiteral("CTS"));
    EXPECT_EQ(enabledEditActions(), QStringList({"EditSelectAll1", "EditUndo1"}));
    // The menu items follow their actions.
    EXPECT_TRUE(action("N13").isEnabled());
    EXPECT_FALSE(action("N11").isEnabled());
}

TEST_F(Viewer, DeleteKeyDeletesTheSelectionOrElseTheNextCharacter) {
    viewer.setText(QStringLiteral("abcdef"));
    showActive();
    select(1, 2);
    QTest::keyClick(&box(), Qt::Key_Delete);
    EXPECT_EQ(box().toPlainText(), "adef");
    QTextCursor caret = box().textCursor();
    caret.setPosition(0);
    box().setTextCursor(caret);
    QTest::keyClick(&box(), Qt::Key_Delete);
    EXPECT_EQ(box().toPlainText(), "def");
}

TEST_F(Viewer, AltBackspaceUndoesTheLastEdit) {
    showActive();
    QTest::keyClicks(&box(), QStringLiteral("CTS"));
    ASSERT_EQ(box().toPlainText(), "CTS");
    QTest::keyClick(&box(), Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_EQ(box().toPlainText(), "");
}

TEST_F(Viewer, CtrlFShowsTheModelessFindDialogWithoutTheMatchCaseBox) {
    showActive();
    QTest::keyClick(&box(), Qt::Key_F, Qt::ControlModifier);
    logs::FindDialog& dialog = viewer.FindDialog1();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.isModal());
    EXPECT_FALSE(dialog.findChild<QCheckBox*>("MatchCase")->isVisibleTo(&dialog));
    EXPECT_TRUE(dialog.findChild<QCheckBox*>("WholeWord")->isVisibleTo(&dialog));
}

TEST_F(Viewer, FindButtonSearchesForwardCaseSensitivelyFromTheSelectionEnd) {
    viewer.setText(QStringLiteral("DTR 1\nRTS 1\nDTR 0"));
    viewer.N8Click();
    logs::FindDialog& dialog = viewer.FindDialog1();
    auto* findNext = dialog.findChild<QPushButton*>("FindNext");
    EXPECT_FALSE(findNext->isEnabled());

    dialog.setFindText(QStringLiteral("dtr"));
    QTest::mouseClick(findNext, Qt::LeftButton);
    EXPECT_FALSE(box().textCursor().hasSelection());

    dialog.setFindText(QStringLiteral("DTR"));
    QTest::mouseClick(findNext, Qt::LeftButton);
    EXPECT_EQ(box().textCursor().selectionStart(), 0);
    QTest::mouseClick(findNext, Qt::LeftButton);
    EXPECT_EQ(box().textCursor().selectionStart(), 12);
    EXPECT_EQ(box().textCursor().selectedText(), "DTR");
    QTest::mouseClick(findNext, Qt::LeftButton);
    EXPECT_EQ(box().textCursor().selectionStart(), 12);
}

struct CloseWay {
    const char* name;
    std::function<void(logs::TForm2&)> close;
};

class ViewerClosing : public Viewer, public ::testing::WithParamInterface<CloseWay> {};

TEST_P(ViewerClosing, PutsTheCaptionBack) {
    viewer.setCaption(QStringLiteral("/home/user/com1.LOG.txt"));
    showActive();
    GetParam().close(viewer);
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(viewer.windowTitle(), "Просмотр");
}

INSTANTIATE_TEST_SUITE_P(AnyWay, ViewerClosing,
                         ::testing::Values(CloseWay{"MenuItemExit",
                                                    [](logs::TForm2& form) {
                                                        form.findChild<QAction*>("N6")->trigger();
                                                    }},
                                           CloseWay{"CloseCall",
                                                    [](logs::TForm2& form) { form.close(); }},
                                           CloseWay{"WindowFrame",
                                                    [](logs::TForm2& form) {
                                                        QCloseEvent frameClose;
                                                        QCoreApplication::sendEvent(&form,
                                                                                    &frameClose);
                                                    }}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(Viewer, EscapeDoesNotClose) {
    showActive();
    QTest::keyClick(&box(), Qt::Key_Escape);
    EXPECT_TRUE(viewer.isVisible());
}

TEST_F(Viewer, ColourDialogStartsFromBlackThenFromTheLastConfirmedColour) {
    std::vector<QColor> starts;
    std::optional<QColor> answer = QColor(Qt::yellow);
    viewer.setColorChooser([&](const QColor& start, QWidget*) {
        starts.push_back(start);
        return answer;
    });
    action("N9").trigger();
    EXPECT_EQ(box().palette().color(QPalette::Base), QColor(Qt::yellow));
    answer.reset();
    action("N9").trigger();
    EXPECT_EQ(box().palette().color(QPalette::Base), QColor(Qt::yellow));
    action("N9").trigger();
    EXPECT_THAT(starts, ElementsAre(QColor(Qt::black), QColor(Qt::yellow), QColor(Qt::yellow)));
}

TEST_F(Viewer, FontDialogStartsFromMsSansSerifThenFromTheLastConfirmedFont) {
    std::vector<logs::TForm2::FontChoice> starts;
    QFont courier(QStringLiteral("Courier"), 12);
    courier.setItalic(true);
    std::optional<logs::TForm2::FontChoice> answer = logs::TForm2::FontChoice{courier, Qt::blue};
    viewer.setFontChooser([&](const logs::TForm2::FontChoice& start, QWidget*) {
        starts.push_back(start);
        return answer;
    });
    action("N10").trigger();
    EXPECT_EQ(box().font(), courier);
    EXPECT_EQ(box().palette().color(QPalette::Text), QColor(Qt::blue));
    answer.reset();
    action("N10").trigger();
    EXPECT_EQ(box().font(), courier);
    action("N10").trigger();

    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[0].font.family(), "MS Sans Serif");
    EXPECT_EQ(starts[0].font.pointSize(), 8);
    EXPECT_FALSE(starts[0].font.bold());
    EXPECT_EQ(starts[0].color, QColor(Qt::black));
    EXPECT_EQ(starts[1].font, courier);
    EXPECT_EQ(starts[1].color, QColor(Qt::blue));
    EXPECT_EQ(starts[2].font, courier);
}

TEST_F(Viewer, TextColourAndFontSurviveClosingAndReopening) {
    viewer.setColorChooser([](const QColor&, QWidget*) { return QColor(Qt::cyan); });
    viewer.setFontChooser([](const logs::TForm2::FontChoice&, QWidget*) {
        return logs::TForm2::FontChoice{QFont(QStringLiteral("Courier"), 14), Qt::red};
    });
    viewer.setText(QStringLiteral("LSR $60"));
    action("N9").trigger();
    action("N10").trigger();
    showActive();
    viewer.close();
    showActive();
    EXPECT_EQ(box().toPlainText(), "LSR $60");
    EXPECT_EQ(box().palette().color(QPalette::Base), QColor(Qt::cyan));
    EXPECT_EQ(box().font().pointSize(), 14);
}

TEST_F(Viewer, BecomingActiveSoundsTheConfirmationTone) {
    showActive();
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 150)));
    viewer.close();
    settle();
    showActive();
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 150), Pair(1300, 150)));
}

TEST_F(Viewer, ModalShowingReturnsOnlyWhenClosed) {
    bool wasModal = false;
    Tones tonesWhileShown;
    QTimer::singleShot(0, [&] {
        settle();
        wasModal = QApplication::activeModalWidget() == &viewer && viewer.isVisible();
        tonesWhileShown = tones;
        viewer.close();
    });
    viewer.setCaption(QStringLiteral("Установка драйвера"));
    viewer.showViewer(true);
    EXPECT_TRUE(wasModal);
    EXPECT_THAT(tonesWhileShown, ElementsAre(Pair(1300, 150)));
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(viewer.windowTitle(), "Просмотр");
}

TEST_F(Viewer, ModelessShowingReturnsAtOnceWithoutBlockingOtherWindows) {
    QTimer::singleShot(0, [&] { viewer.close(); });
    viewer.showViewer(true);
    viewer.showViewer(false);
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_FALSE(viewer.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(Viewer, ShowingModallyWhileVisibleIsRefusedAndKeepsWhatTheCallerSet) {
    viewer.showViewer(false);
    viewer.setText(QStringLiteral("help text"));
    viewer.setCaption(QStringLiteral("Работа с панелью инструментов контроллера"));
    EXPECT_THROW(viewer.showViewer(true), logs::VisibleModalError);
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(box().toPlainText(), "help text");
    EXPECT_EQ(viewer.windowTitle(), "Работа с панелью инструментов контроллера");
}

TEST_F(Viewer, PastingTheClipboardReplacesTheContent) {
    viewer.setText(QStringLiteral("old"));
    QGuiApplication::clipboard()->setText(QStringLiteral("12:00:00 LSR $60\nTHRE 1"));
    viewer.pasteClipboard();
    EXPECT_EQ(box().toPlainText(), "12:00:00 LSR $60\nTHRE 1");
}

}  // namespace
