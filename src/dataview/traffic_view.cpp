#include "dataview/traffic_view.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <array>
#include <utility>

namespace dataview {

namespace {

constexpr int kMargin = 4;
constexpr int kTimeChars = 13;  // "hh:mm:ss.mmm", "+86400.000"
// A hex cell: two hex digits and an error letter (or a mark's three letters), then a gap, so a
// cell that carries a letter still stands apart from the next.
constexpr int kCellChars = 4;
constexpr int kColumnGap = 2;

const QColor kSentText(0, 0, 170);
const QColor kSentBackground(225, 235, 255);
const QColor kErrorText(170, 0, 0);
const QColor kErrorBackground(255, 205, 205);

constexpr uint8_t kCr = 13;
constexpr uint8_t kLf = 10;
constexpr uint8_t kTab = 9;

}  // namespace

TrafficView::TrafficView(QWidget* parent) : QAbstractScrollArea(parent), rows_(kViewEntries) {
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    setFont(fixed);
    const QFontMetrics metrics(fixed);
    charWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    lineHeight_ = std::max(1, metrics.lineSpacing());
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(1);
    updateScrollBars();
}

void TrafficView::beginOpening(const traffic::OpeningClock& clock) {
    rows_.beginOpening(clock);
}

void TrafficView::append(const comm::TrafficEntry* entries, size_t count) {
    if (count == 0) return;
    rows_.append(entries, count);
    if (hasSelection_ && std::min(anchor_, cursor_) < rows_.firstKept()) hasSelection_ = false;
    appendedUnshown_ = true;
}

void TrafficView::showAppended() {
    if (!std::exchange(appendedUnshown_, false)) return;
    const bool follow = following();
    const size_t removed = rows_.takeRowsRemoved();
    QScrollBar* bar = verticalScrollBar();
    const int kept = bar->value() - static_cast<int>(std::min<size_t>(removed, bar->value()));
    updateScrollBars();
    bar->setValue(follow ? bar->maximum() : kept);
    viewport()->update();
}

void TrafficView::countLost(uint64_t count) {
    rows_.countLost(count);
}

void TrafficView::clear() {
    rows_.clear();
    rows_.takeRowsRemoved();
    hasSelection_ = false;
    updateScrollBars();
    viewport()->update();
}

void TrafficView::setRule(const traffic::RowRule& rule) {
    const bool follow = following();
    rows_.setRule(rule);
    rows_.takeRowsRemoved();
    updateScrollBars();
    if (follow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    viewport()->update();
}

void TrafficView::setTimeStamps(TimeStampKind kind) {
    timeStamps_ = kind;
    updateScrollBars();
    viewport()->update();
}

bool TrafficView::following() const {
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

int TrafficView::cellWidth() const {
    return kCellChars * charWidth_;
}

// The hex and text columns are as wide as the longest row the rule allows.
int TrafficView::cellsPerRow() const {
    const traffic::RowRule& rule = rows_.rule();
    return rule.split == traffic::RowRule::Split::Bytes ? rule.bytesPerRow
                                                        : traffic::kMaxRowEntries;
}

TrafficView::Columns TrafficView::columns() const {
    Columns c;
    const int cells = cellsPerRow();
    c.time = kMargin - horizontalScrollBar()->value();
    c.direction = c.time + (timeStamps_ == TimeStampKind::None ? 0 : (kTimeChars + 1) * charWidth_);
    c.hex = c.direction + 3 * charWidth_;
    c.text = c.hex + cells * cellWidth() + kColumnGap * charWidth_;
    c.end = c.text + cells * charWidth_ + kMargin;
    return c;
}

void TrafficView::updateScrollBars() {
    const int visibleRows = std::max(1, viewport()->height() / lineHeight_);
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(visibleRows);
    bar->setRange(0, std::max(0, static_cast<int>(rows_.rowCount()) - visibleRows));
    const Columns c = columns();
    const int width = c.end - c.time;
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setSingleStep(charWidth_);
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
}

void TrafficView::resizeEvent(QResizeEvent* event) {
    const bool follow = following();
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    if (follow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TrafficView::scrollToRow(size_t row) {
    QScrollBar* bar = verticalScrollBar();
    const int wanted = static_cast<int>(row);
    if (wanted < bar->value() || wanted >= bar->value() + bar->pageStep())
        bar->setValue(wanted - bar->pageStep() / 2);
}

void TrafficView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const Columns c = columns();
    const QFontMetrics metrics(font());
    const int ascent = metrics.ascent();
    uint64_t selFirst = 0;
    uint64_t selLast = 0;
    const bool selected = selection(selFirst, selLast);
    const QPalette& colours = palette();
    const size_t firstRow = static_cast<size_t>(verticalScrollBar()->value());
    const size_t rowsInSight = static_cast<size_t>(viewport()->height() / lineHeight_ + 1);
    const size_t lastRow = std::min(rows_.rowCount(), firstRow + rowsInSight);
    for (size_t index = firstRow; index < lastRow; ++index) {
        const traffic::TrafficRows::Row& row = rows_.row(index);
        const int top = static_cast<int>(index - firstRow) * lineHeight_;
        const int baseline = top + ascent;
        const comm::TrafficEntry& head = rows_.entry(row.first);
        const bool sent = (head.flags & comm::kTrafficSent) != 0;
        if (sent)
            painter.fillRect(QRect(c.time, top, c.end - c.time, lineHeight_), kSentBackground);
        painter.setPen(colours.color(QPalette::Text));
        if (timeStamps_ != TimeStampKind::None) {
            const int64_t previousUs =
                index > 0 ? rows_.entry(rows_.row(index - 1).first).timeUs : head.timeUs;
            painter.drawText(
                c.time, baseline,
                text::timeStamp(timeStamps_, head.timeUs, previousUs, rows_.clock(row.opening)));
        }
        const QColor ink = sent ? kSentText : colours.color(QPalette::Text);
        painter.setPen(ink);
        painter.drawText(c.direction, baseline, text::direction(head.flags));
        // The plain cells of a row go out as two strings, one per column; only the cells that
        // stand out (errors, marks, the selection) are drawn one by one over their own ground.
        QString hex(static_cast<qsizetype>(row.count) * kCellChars, QLatin1Char(' '));
        QString shown(static_cast<qsizetype>(row.count), QLatin1Char(' '));
        std::array<uint32_t, traffic::kMaxRowEntries> apart{};
        size_t apartCount = 0;
        for (uint32_t i = 0; i < row.count; ++i) {
            const uint64_t number = row.first + i;
            const comm::TrafficEntry& e = rows_.entry(number);
            if (text::hasError(e) || (selected && number >= selFirst && number <= selLast)) {
                apart[apartCount++] = i;
                continue;
            }
            const QString cell = text::hexCell(e);
            hex.replace(static_cast<qsizetype>(i) * kCellChars, cell.size(), cell);
            shown[i] = text::textCell(e);
        }
        painter.drawText(c.hex, baseline, hex);
        painter.drawText(c.text, baseline, shown);
        for (size_t k = 0; k < apartCount; ++k) {
            const uint32_t i = apart[k];
            const uint64_t number = row.first + i;
            const comm::TrafficEntry& e = rows_.entry(number);
            const QRect hexBox(c.hex + static_cast<int>(i) * cellWidth(), top,
                               cellWidth() - charWidth_, lineHeight_);
            const QRect textBox(c.text + static_cast<int>(i) * charWidth_, top, charWidth_,
                                lineHeight_);
            const bool error = text::hasError(e);
            if (selected && number >= selFirst && number <= selLast) {
                painter.fillRect(hexBox, colours.color(QPalette::Highlight));
                painter.fillRect(textBox, colours.color(QPalette::Highlight));
                painter.setPen(colours.color(QPalette::HighlightedText));
            } else {
                painter.fillRect(hexBox, kErrorBackground);
                painter.fillRect(textBox, kErrorBackground);
                painter.setPen(kErrorText);
            }
            painter.drawText(hexBox.left(), baseline, text::hexCell(e));
            painter.drawText(textBox.left(), baseline, QString(text::textCell(e)));
            // Readable without colour: an error byte is underlined in the text column too.
            if (error)
                painter.drawLine(textBox.left(), baseline + 1, textBox.right(), baseline + 1);
        }
    }
}

bool TrafficView::entryAt(const QPoint& point, uint64_t& number) const {
    const size_t index =
        static_cast<size_t>(verticalScrollBar()->value() + std::max(0, point.y()) / lineHeight_);
    if (index >= rows_.rowCount()) return false;
    const traffic::TrafficRows::Row& row = rows_.row(index);
    const Columns c = columns();
    int cell = 0;
    if (point.x() >= c.text)
        cell = (point.x() - c.text) / charWidth_;
    else if (point.x() >= c.hex)
        cell = (point.x() - c.hex) / cellWidth();
    number = row.first +
             static_cast<uint64_t>(std::clamp<int>(cell, 0, static_cast<int>(row.count) - 1));
    return true;
}

void TrafficView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    uint64_t number = 0;
    hasSelection_ = entryAt(event->position().toPoint(), number);
    anchor_ = cursor_ = number;
    selecting_ = hasSelection_;
    viewport()->update();
}

void TrafficView::mouseMoveEvent(QMouseEvent* event) {
    uint64_t number = 0;
    if (!selecting_ || !(event->buttons() & Qt::LeftButton) ||
        !entryAt(event->position().toPoint(), number))
        return;
    cursor_ = number;
    viewport()->update();
}

void TrafficView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::SelectAll) && rows_.end() > rows_.firstKept()) {
        select(rows_.firstKept(), rows_.end() - 1);
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        QGuiApplication::clipboard()->setText(selectedText());
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

bool TrafficView::selection(uint64_t& first, uint64_t& last) const {
    if (!hasSelection_) return false;
    first = std::max(std::min(anchor_, cursor_), rows_.firstKept());
    last = std::max(anchor_, cursor_);
    return first <= last && last < rows_.end();
}

void TrafficView::select(uint64_t first, uint64_t last) {
    anchor_ = first;
    cursor_ = last;
    hasSelection_ = true;
    viewport()->update();
}

QString TrafficView::selectedHex() const {
    uint64_t first = 0;
    uint64_t last = 0;
    if (!selection(first, last)) return {};
    QStringList cells;
    for (uint64_t n = first; n <= last; ++n) cells << text::hexCell(rows_.entry(n));
    return cells.join(QLatin1Char(' '));
}

// As text the line ends and tabs are themselves, so the copy pastes as the lines the device
// sent; marks are left out, being no text.
QString TrafficView::selectedText() const {
    uint64_t first = 0;
    uint64_t last = 0;
    if (!selection(first, last)) return {};
    QString copied;
    for (uint64_t n = first; n <= last; ++n) {
        const comm::TrafficEntry& e = rows_.entry(n);
        if (comm::isTrafficMark(e)) continue;
        if (e.value == kCr || e.value == kLf || e.value == kTab)
            copied += QLatin1Char(static_cast<char>(e.value));
        else
            copied += text::textCell(e);
    }
    return copied;
}

bool TrafficView::findNext(const QByteArray& bytes) {
    if (bytes.isEmpty() || rows_.end() <= rows_.firstKept()) return false;
    const uint64_t size = static_cast<uint64_t>(bytes.size());
    const auto matchesAt = [&](uint64_t n) {
        for (uint64_t i = 0; i < size; ++i) {
            const comm::TrafficEntry& e = rows_.entry(n + i);
            if (comm::isTrafficMark(e) ||
                e.value != static_cast<uint8_t>(bytes[static_cast<qsizetype>(i)]))
                return false;
        }
        return true;
    };
    const uint64_t oldest = rows_.firstKept();
    if (rows_.end() - oldest < size) return false;
    const uint64_t lastStart = rows_.end() - size;
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t start = selection(first, last) ? first + 1 : oldest;
    if (start > lastStart) start = oldest;
    const uint64_t starts = lastStart - oldest + 1;
    for (uint64_t k = 0; k < starts; ++k) {
        const uint64_t n = oldest + (start - oldest + k) % starts;
        if (!matchesAt(n)) continue;
        select(n, n + size - 1);
        scrollToRow(rows_.rowOf(n));
        return true;
    }
    return false;
}

}  // namespace dataview
