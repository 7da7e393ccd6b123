#include "widgets/bounded_text_view.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <array>

namespace widgets {
namespace {

bool newestLineInView(BoundedTextView& view) {
    QTextCursor end(view.document());
    end.movePosition(QTextCursor::End);
    return view.viewport()->rect().contains(view.cursorRect(end));
}

// Appends in one turn of the event loop after another, as in a register storm, are shown once a
// frame; the last show leaves the newest line in view, whether the caret follows the appends or
// the view follows its end, while a view the reader scrolled back stays where it is.
TEST(BoundedTextView, BurstEndsWithTheNewestLineInViewUnlessTheReaderScrolledBack) {
    BoundedTextView caretView({{TextBound::Unit::Characters, 1000}, true, false}, nullptr);
    BoundedTextView endView({{TextBound::Unit::Lines, 100}, false, false}, nullptr);
    BoundedTextView scrolledBack({{TextBound::Unit::Lines, 100}, false, false}, nullptr);
    const std::array views{&caretView, &endView, &scrolledBack};
    for (BoundedTextView* view : views) {
        view->resize(200, 100);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    }
    for (int line = 0; line < 50; ++line) scrolledBack.appendLine(QString::number(line));
    ASSERT_TRUE(QTest::qWaitFor([&] { return newestLineInView(scrolledBack); }));
    scrolledBack.verticalScrollBar()->setValue(0);

    for (int line = 0; line < 300; ++line) {
        for (BoundedTextView* view : views) view->appendLine(QStringLiteral("line %1").arg(line));
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return newestLineInView(caretView); }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return newestLineInView(endView); }));
    EXPECT_EQ(caretView.textCursor().position(), caretView.textLength());
    EXPECT_EQ(scrolledBack.verticalScrollBar()->value(), 0);
    EXPECT_FALSE(newestLineInView(scrolledBack));
    EXPECT_EQ(endView.lines().last(), QStringLiteral("line 299"));
}

}  // namespace
}  // namespace widgets
