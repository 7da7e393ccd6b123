#include "log/text_search.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QTextCursor>

namespace {

const QString kRecord = QStringLiteral(
    "12:34:56 MCR $03 3\n"
    "DTR 1\n"
    "RTS 1\n"
    "12:34:57 MCR $00 0\n"
    "DTR 0\n"
    "RTS 0");

class FindForward : public ::testing::Test {
protected:
    void SetUp() override { box.setPlainText(kRecord); }
    void select(int start, int length) {
        QTextCursor cursor = box.textCursor();
        cursor.setPosition(start);
        cursor.setPosition(start + length, QTextCursor::KeepAnchor);
        box.setTextCursor(cursor);
    }
    int selectionStart() const { return box.textCursor().selectionStart(); }
    int selectionLength() const {
        return box.textCursor().selectionEnd() - box.textCursor().selectionStart();
    }

    QPlainTextEdit box;
};

TEST_F(FindForward, WithoutASelectionStartsAtTheTopEvenWithTheCaretFurtherDown) {
    QTextCursor caret = box.textCursor();
    caret.setPosition(static_cast<int>(kRecord.lastIndexOf("DTR")) + 1);
    box.setTextCursor(caret);
    EXPECT_TRUE(logs::findForward(box, QStringLiteral("DTR")));
    EXPECT_EQ(selectionStart(), kRecord.indexOf("DTR"));
    EXPECT_EQ(selectionLength(), 3);
}

TEST_F(FindForward, RepeatedSearchesWalkThroughTheMatchesAndStopAtTheLast) {
    ASSERT_TRUE(logs::findForward(box, QStringLiteral("MCR")));
    ASSERT_TRUE(logs::findForward(box, QStringLiteral("MCR")));
    EXPECT_EQ(selectionStart(), kRecord.lastIndexOf("MCR"));
    EXPECT_FALSE(logs::findForward(box, QStringLiteral("MCR")));
    EXPECT_EQ(selectionStart(), kRecord.lastIndexOf("MCR"));
    EXPECT_EQ(selectionLength(), 3);
}

TEST_F(FindForward, StartsAtTheEndOfTheSelectionNotInsideIt) {
    select(static_cast<int>(kRecord.indexOf("RTS 1")), 5);
    EXPECT_TRUE(logs::findForward(box, QStringLiteral("RTS")));
    EXPECT_EQ(selectionStart(), kRecord.lastIndexOf("RTS"));
}

TEST_F(FindForward, WholeTextSelectedFindsNothingAndKeepsTheSelection) {
    box.selectAll();
    EXPECT_FALSE(logs::findForward(box, QStringLiteral("DTR")));
    EXPECT_EQ(selectionStart(), 0);
    EXPECT_EQ(selectionLength(), kRecord.size());
}

TEST_F(FindForward, IsAlwaysCaseSensitive) {
    EXPECT_FALSE(logs::findForward(box, QStringLiteral("dtr")));
    EXPECT_FALSE(box.textCursor().hasSelection());
}

TEST_F(FindForward, MatchesInsideWords) {
    EXPECT_TRUE(logs::findForward(box, QStringLiteral("TR")));
    EXPECT_EQ(selectionStart(), kRecord.indexOf("DTR") + 1);
}

TEST_F(FindForward, EmptySearchTextChangesNothing) {
    select(3, 2);
    EXPECT_FALSE(logs::findForward(box, QString()));
    EXPECT_EQ(selectionStart(), 3);
    EXPECT_EQ(selectionLength(), 2);
}

}  // namespace
