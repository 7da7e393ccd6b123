// Trimming a full bounded view. The log panes and the terminal memos used to drop their oldest
// lines in two ways; both are timed here on the same appends, one record line at a time, into
// the same full view on screen, for a bound in characters and one in lines:
// - walk: after the insert, walk the blocks from the first until enough text is counted, and
//   remove it with a cursor outside an edit block;
// - lookup: before the insert, find the first block kept in the document's block tree and
//   remove what comes before it inside an edit block.
// widgets::BoundedTextView keeps the faster one; its own whole append is timed as well.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cstdio>
#include <utility>

#include "program_environment.h"
#include "widgets/bounded_text_view.h"

namespace {

using widgets::TextBound;

constexpr int kAppends = 20'000;
constexpr TextBound kCharacters{TextBound::Unit::Characters, 64 * 1024};
constexpr TextBound kLines{TextBound::Unit::Lines, 5'000};

// About as long as a change record.
QString record(int number) {
    return QStringLiteral("12:34:56.789  LSR  [ %1 ]  0110 0001  DR THRE TEMT").arg(number);
}

int over(const QTextDocument& text, const TextBound& bound) {
    return bound.unit == TextBound::Unit::Lines ? text.blockCount() - bound.limit
                                                : text.characterCount() - 1 - bound.limit;
}

void trimByWalk(QTextDocument& text, const TextBound& bound) {
    int excess = over(text, bound);
    if (excess <= 0) return;
    const QTextBlock newest = text.lastBlock();
    int dropTo = 0;
    for (QTextBlock block = text.firstBlock(); block != newest && excess > 0;
         block = block.next()) {
        dropTo = block.position() + block.length();
        excess -= bound.unit == TextBound::Unit::Lines ? 1 : block.length();
    }
    QTextCursor cursor(&text);
    cursor.setPosition(dropTo, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

// Before an insert of one line break and `incoming` characters.
void trimByLookup(QTextDocument& text, const TextBound& bound, int incoming) {
    const bool lines = bound.unit == TextBound::Unit::Lines;
    const int excess = over(text, bound) + (lines ? 1 : 1 + incoming);
    if (excess <= 0) return;
    const QTextBlock first = lines ? text.findBlockByNumber(excess) : text.findBlock(excess);
    const int dropTo =
        lines || first.position() == excess ? first.position() : first.next().position();
    QTextCursor cursor(&text);
    cursor.beginEditBlock();
    cursor.setPosition(dropTo, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.endEditBlock();
}

void insertLine(QTextDocument& text, const QString& line) {
    QTextCursor end(&text);
    end.beginEditBlock();
    end.movePosition(QTextCursor::End);
    end.insertText(u'\n' + line);
    end.endEditBlock();
}

void fill(QPlainTextEdit& view, const TextBound& bound) {
    QStringList lines;
    // Somewhat more than fits, whichever the bound.
    const int count = bound.unit == TextBound::Unit::Lines ? bound.limit : bound.limit / 10;
    for (int number = 0; number < count; ++number) lines << record(number);
    view.setPlainText(lines.join(u'\n'));
    trimByWalk(*view.document(), bound);
    QApplication::processEvents();
}

// Microseconds of trimming per append.
double timeTrim(const TextBound& bound, bool walk) {
    QPlainTextEdit view;
    view.setUndoRedoEnabled(false);
    view.resize(400, 150);
    view.show();
    fill(view, bound);
    QTextDocument& text = *view.document();
    qint64 nanoseconds = 0;
    QElapsedTimer clock;
    for (int number = 0; number < kAppends; ++number) {
        const QString line = record(number);
        if (walk) {
            insertLine(text, line);
            clock.start();
            trimByWalk(text, bound);
        } else {
            clock.start();
            trimByLookup(text, bound, static_cast<int>(line.size()));
        }
        nanoseconds += clock.nsecsElapsed();
        if (!walk) insertLine(text, line);
    }
    if (over(text, bound) > 0) std::fprintf(stderr, "bench_view: the view passed its bound\n");
    return nanoseconds * 1e-3 / kAppends;
}

// Microseconds per append of the bounded view itself, trim and insert and the caret.
double timeView(const TextBound& bound) {
    widgets::BoundedTextView view({bound, true, false}, nullptr);
    view.resize(400, 150);
    view.show();
    fill(view, bound);
    QElapsedTimer clock;
    clock.start();
    for (int number = 0; number < kAppends; ++number) view.appendLine(record(number));
    return clock.nsecsElapsed() * 1e-3 / kAppends;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir settings;
    useBenchProgramEnvironment(settings);
    QApplication application(argc, argv);
    for (const auto& [name, bound] :
         {std::pair{"chars", kCharacters}, std::pair{"lines", kLines}}) {
        std::printf("BENCH view_trim_walk_%s_us %.2f us/append\n", name, timeTrim(bound, true));
        std::printf("BENCH view_trim_lookup_%s_us %.2f us/append\n", name, timeTrim(bound, false));
        std::printf("BENCH view_append_%s_us %.2f us/append\n", name, timeView(bound));
    }
    return 0;
}
