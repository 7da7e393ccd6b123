#include "widgets/bounded_text_view.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace widgets {

namespace {

// No one tells apart what changes within a frame.
constexpr qint64 kFrameMs = 20;
// A gathered insert waits at least this many times what the last one cost, so a flood spends at
// most this share of the time putting lines into the document.
constexpr qint64 kCostShare = 60;

// What an append removes to stay within the bound: the old text before dropTo, or all of it
// (the line break that would lead the new lines with it), and the oldest new lines, which never
// go in.
struct Cut {
    int dropTo = 0;
    bool dropsAll = false;
    qsizetype skip = 0;
};

// The oldest lines are found by a look-up in the document's block tree, not by walking them,
// and go before the insert, so lines that the same append pushes out are never inserted.
Cut cutFor(const QTextDocument& text, bool holdsLines, const TextBound& bound,
           const QStringList& lines) {
    if (bound.unit == TextBound::Unit::Lines) {
        const int old = holdsLines ? text.blockCount() : 0;
        const qsizetype over = old + lines.size() - bound.limit;
        if (over <= 0) return {};
        if (over < old)
            return {text.findBlockByNumber(static_cast<int>(over)).position(), false, 0};
        return {0, true, over - old};
    }
    const qsizetype oldLength = text.characterCount() - 1 + (holdsLines ? 1 : 0);
    qsizetype over = oldLength + lines.size() - 1 - bound.limit;
    for (const QString& line : lines) over += line.size();
    if (over <= 0) return {};
    if (over < oldLength) {
        const QTextBlock block = text.findBlock(static_cast<int>(over));
        if (block.position() == over) return {block.position(), false, 0};
        if (block.next().isValid()) return {block.next().position(), false, 0};
    }
    // A new line longer than the whole bound is still kept whole, as the newest line.
    Cut cut{0, true, 0};
    for (over -= oldLength; over > 0 && cut.skip + 1 < lines.size(); ++cut.skip)
        over -= lines[cut.skip].size() + 1;
    return cut;
}

}  // namespace

BoundedTextView::BoundedTextView(const BoundedTextOptions& options, QWidget* parent)
    : TextBox(parent),
      options_(options),
      nextInsert_(new QTimer(this)),
      nextShow_(new QTimer(this)) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Each append would stay on the undo stack for as long as the program runs.
    setUndoRedoEnabled(false);
    // The user's own typing keeps to a line bound too.
    if (options.bound.unit == TextBound::Unit::Lines) setMaximumBlockCount(options.bound.limit);
    nextInsert_->setSingleShot(true);
    connect(nextInsert_, &QTimer::timeout, this, &BoundedTextView::insertGathered);
    nextShow_->setSingleShot(true);
    connect(nextShow_, &QTimer::timeout, this, &BoundedTextView::showChanges);
    // An empty document is both no line and one empty line; only an append makes it the latter,
    // and any other change (a clear, the user's typing) ends it.
    connect(document(), &QTextDocument::contentsChanged, this,
            [this] { appendedEmptyLine_ = false; });
}

void BoundedTextView::appendLines(const QStringList& lines) {
    if (lines.isEmpty()) return;
    emit linesAppended(lines);
    if (!options_.gathers) {
        insertNow(lines);
        return;
    }
    gathered_.append(lines);
    // Only the newest lines can still be shown; the list is cut back now and then rather than
    // on every append.
    const int limit = options_.bound.limit;
    if (options_.bound.unit == TextBound::Unit::Lines && gathered_.size() >= 2 * limit)
        gathered_.remove(0, gathered_.size() - limit);
    if (!nextInsert_->isActive()) insertGathered();
}

QStringList BoundedTextView::lines() {
    insertGathered();
    return holdsLines() ? toPlainText().split(u'\n') : QStringList{};
}

int BoundedTextView::textLength() const {
    return document()->characterCount() - 1;
}

void BoundedTextView::insertGathered() {
    if (gathered_.isEmpty()) return;
    QElapsedTimer cost;
    cost.start();
    insertNow(std::exchange(gathered_, {}));
    nextInsert_->start(static_cast<int>(std::max(kFrameMs, cost.elapsed() * kCostShare)));
}

void BoundedTextView::insertNow(const QStringList& lines) {
    QTextDocument* text = document();
    const bool holds = holdsLines();
    const Cut cut = cutFor(*text, holds, options_.bound, lines);
    {
        // The view hears of the edits at the next show. Each edit is a block of its own, so no
        // cursor move inside it lays out a line.
        const QSignalBlocker unseen(text->documentLayout());
        QTextCursor edit(text);
        if (cut.dropsAll || cut.dropTo > 0) {
            edit.beginEditBlock();
            edit.setPosition(cut.dropsAll ? text->characterCount() - 1 : cut.dropTo,
                             QTextCursor::KeepAnchor);
            edit.removeSelectedText();
            edit.endEditBlock();
        }
        const QString joined = lines.sliced(cut.skip).join(u'\n');
        edit.beginEditBlock();
        // Not a move to the end, which would lay out the last line to find it.
        edit.setPosition(text->characterCount() - 1);
        edit.insertText(holds && !cut.dropsAll ? u'\n' + joined : joined);
        edit.endEditBlock();
    }
    appendedEmptyLine_ = text->isEmpty();
    // A caret at the end moves on with the insert by itself; only one the user placed elsewhere
    // is put back.
    if (options_.caretFollows) {
        const QTextCursor caret = textCursor();
        if (caret.hasSelection() || !caret.atEnd()) {
            QTextCursor end(text);
            end.movePosition(QTextCursor::End);
            setTextCursor(end);
        }
    }
    scheduleShow();
}

bool BoundedTextView::holdsLines() const {
    return appendedEmptyLine_ || !document()->isEmpty();
}

// A quiet view shows its change at the next turn of the event loop, a busy one once a frame.
void BoundedTextView::scheduleShow() {
    if (nextShow_->isActive()) return;
    const QScrollBar* bar = verticalScrollBar();
    showEnd_ = bar->value() == bar->maximum();
    const qint64 since = lastShow_.isValid() ? lastShow_.elapsed() : kFrameMs;
    nextShow_->start(static_cast<int>(std::max<qint64>(0, kFrameMs - since)));
}

void BoundedTextView::showChanges() {
    lastShow_.start();
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    // The scroll range, which lays out the lines at the end, once for all edits since the last
    // show.
    emit layout->documentSizeChanged(layout->documentSize());
    viewport()->update();
    if (options_.caretFollows)
        ensureCursorVisible();
    else if (showEnd_)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

}  // namespace widgets
