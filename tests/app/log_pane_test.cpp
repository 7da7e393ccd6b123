#include "app/log_pane.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

namespace {

class LogPaneTest : public ::testing::Test {
protected:
    app::LogPane pane{QStringLiteral("RichEdit1"), nullptr};
};

// One pane line per appended line, no more (no empty line after the newest) and no less (an
// empty first line counts, even though the pane looks no different for it).
TEST_F(LogPaneTest, EveryAppendedLineIsExactlyOnePaneLine) {
    pane.appendLine(QString());
    pane.appendLine(QStringLiteral("COM1"));
    pane.appendLines({QString(), QStringLiteral(" [ 1 ]"), QString()});
    pane.appendLine(QStringLiteral("DTR 1"));
    EXPECT_EQ(pane.toPlainText(), QStringLiteral("\nCOM1\n\n [ 1 ]\n\nDTR 1"));

    pane.clearPane();
    pane.appendLine(QString());
    pane.clear();
    pane.appendLine(QStringLiteral("after a clear"));
    EXPECT_EQ(pane.toPlainText(), QStringLiteral("after a clear"));
}

TEST_F(LogPaneTest, AppendMovesTheCaretAfterTheLineAndDropsTheSelection) {
    pane.appendLine(QStringLiteral("first"));
    QTextCursor selection = pane.textCursor();
    selection.setPosition(0);
    selection.setPosition(3, QTextCursor::KeepAnchor);
    pane.setTextCursor(selection);

    pane.appendLine(QStringLiteral("second"));
    EXPECT_FALSE(pane.textCursor().hasSelection());
    EXPECT_EQ(pane.textCursor().position(), pane.textLength());
}

TEST_F(LogPaneTest, TextTypedAfterTheLastLineIsNotJoinedWithTheNextRecord) {
    pane.appendLine(QStringLiteral("record"));
    QTextCursor end = pane.textCursor();
    end.insertText(QStringLiteral(" typed"));
    pane.appendLine(QStringLiteral("next"));
    EXPECT_EQ(pane.toPlainText(), QStringLiteral("record typed\nnext"));
}

TEST_F(LogPaneTest, ClearRemovesAllText) {
    pane.appendLine(QStringLiteral("x"));
    pane.clearPane();
    EXPECT_EQ(pane.textLength(), 0);
}

TEST_F(LogPaneTest, FullPaneDropsOldestWholeLinesAndKeepsTheNewRecordComplete) {
    // 99 characters and a line break per line: the limit is passed on the 656th line.
    const auto line = [](int number) {
        return QStringLiteral("%1").arg(number, 6, 10, QLatin1Char('0')) + QString(93, u'.');
    };
    for (int number = 0; number < 700; ++number) pane.appendLine(line(number));

    EXPECT_LE(pane.textLength(), app::kLogPaneLimit);
    EXPECT_GT(pane.textLength(), app::kLogPaneLimit - 100);
    const QStringList lines = pane.toPlainText().split(u'\n');
    EXPECT_EQ(lines.last(), line(699));
    // Every line left is whole, and they are the newest ones in order.
    const int first = 700 - static_cast<int>(lines.size());
    for (int index = 0; index < lines.size(); ++index)
        ASSERT_EQ(lines[index], line(first + index)) << "line " << index;
}

TEST_F(LogPaneTest, LineLongerThanTheLimitReplacesTheTextButIsKeptWhole) {
    pane.appendLine(QStringLiteral("old"));
    const QString huge(app::kLogPaneLimit + 10, u'x');
    pane.appendLine(huge);
    EXPECT_EQ(pane.toPlainText(), huge);
}

// The batch a tick hands over must read exactly as the same lines appended one by one, typed
// text on the last line and the trim at the limit included.
TEST_F(LogPaneTest, BatchAppendReadsExactlyAsOneLineAtATime) {
    app::LogPane single{QStringLiteral("RichEdit2"), nullptr};
    for (app::LogPane* each : {&pane, &single}) {
        each->appendLine(QStringLiteral("start"));
        each->textCursor().insertText(QStringLiteral("typed"));
    }
    for (int batch = 0; batch < 250; ++batch) {
        QStringList lines;
        for (int line = 0; line < 11; ++line)
            lines << (line % 4 == 0 ? QString()
                                    : QString("%1/%2 ").arg(batch).arg(line).repeated(7));
        pane.appendLines(lines);
        for (const QString& line : lines) single.appendLine(line);
        ASSERT_EQ(pane.toPlainText(), single.toPlainText()) << "batch " << batch;
    }
    EXPECT_GT(pane.textLength(), app::kLogPaneLimit - 200);
    EXPECT_EQ(pane.textCursor().position(), pane.textLength());
}

// A batch that trims the pane reaches the screen as one update, with the whole batch in it.
TEST_F(LogPaneTest, BatchThatTrimsIsPaintedOnceWhole) {
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    const QStringList lines(40, QString(99, u'x'));
    for (int batch = 0; batch < 21; ++batch) pane.appendLines(lines);
    // The pane shows its changes at most once a frame: wait until the filling is painted.
    QTest::qWait(100);
    ASSERT_GT(pane.textLength() + 40 * 100, app::kLogPaneLimit);
    pane.viewport()->installEventFilter(&counter);
    QStringList numbered;
    for (int line = 0; line < 40; ++line) numbered << QString::number(line) + QString(97, u'y');
    pane.appendLines(numbered);
    QTest::qWait(100);
    EXPECT_EQ(counter.paints, 1);
    EXPECT_LE(pane.textLength(), app::kLogPaneLimit);
    EXPECT_TRUE(pane.toPlainText().endsWith(u'\n' + numbered.join(u'\n')));
}

TEST_F(LogPaneTest, EmptyBatchLeavesTextAndSelectionAlone) {
    pane.appendLine(QStringLiteral("first"));
    QTextCursor selection = pane.textCursor();
    selection.setPosition(0);
    selection.setPosition(3, QTextCursor::KeepAnchor);
    pane.setTextCursor(selection);
    pane.appendLines({});
    EXPECT_EQ(pane.toPlainText(), QStringLiteral("first"));
    EXPECT_TRUE(pane.textCursor().hasSelection());
}

}  // namespace
