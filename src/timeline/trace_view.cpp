#include "timeline/trace_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace timeline {

namespace {

constexpr int kRulerHeight = 22;
constexpr int kLaneHeight = 24;
constexpr int kLabelWidth = 150;
constexpr int kLevelInset = 5;       // the space above a 1 and below a 0
constexpr int kMinLabelPixels = 26;  // a value is written where it has this much room
constexpr int64_t kRedrawRecentUs = 100'000;

QString hexByte(uint8_t value) {
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// The errors a byte's flags name, for its label.
QString byteFlagsText(uint8_t flags) {
    QString text;
    if (flags & comm::kTrafficParityError) text += QStringLiteral(" PE");
    if (flags & comm::kTrafficFramingError) text += QStringLiteral(" FE");
    return text;
}

}  // namespace

TraceView::TraceView(const Recorder& recorder, QWidget* parent)
    : QWidget(parent), recorder_(recorder) {
    setObjectName(QStringLiteral("TimelineTrace"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(400, kRulerHeight + 4 * kLaneHeight);
}

void TraceView::setLanes(std::vector<Lane> lanes) {
    lanes_ = std::move(lanes);
    tracesValid_ = false;
    selected_ = std::clamp(selected_, 0, std::max(0, static_cast<int>(lanes_.size()) - 1));
    setMinimumHeight(kRulerHeight +
                     std::max<int>(4, static_cast<int>(lanes_.size())) * kLaneHeight);
    update();
    emit viewChanged();
}

int TraceView::traceWidth() const {
    return std::max(1, width() - kLabelWidth);
}

void TraceView::setView(int64_t startUs, double usPerPixel) {
    usPerPixel_ = std::clamp(usPerPixel, kMinUsPerPixel, kMaxUsPerPixel);
    startUs_ = startUs;
    update();
    emit viewChanged();
}

void TraceView::zoom(double factor, int x) {
    const int64_t anchor = xToTime(x);
    const double upp = std::clamp(usPerPixel_ * factor, kMinUsPerPixel, kMaxUsPerPixel);
    const int64_t start = anchor - std::llround((x - kLabelWidth) * upp);
    setView(start, upp);
    if (follow_) showNewest();
}

void TraceView::zoomCentred(double factor) {
    zoom(factor, kLabelWidth + traceWidth() / 2);
}

void TraceView::scrollPixels(int pixels) {
    follow_ = false;
    setView(startUs_ + std::llround(pixels * usPerPixel_), usPerPixel_);
}

void TraceView::setFollow(bool follow) {
    follow_ = follow;
    if (follow_) showNewest();
    emit viewChanged();
}

void TraceView::showNewest() {
    const int64_t newest = std::max(recorder_.nowUs(), recorder_.lastTimeUs());
    setView(newest - std::llround(traceWidth() * usPerPixel_), usPerPixel_);
}

void TraceView::showAll() {
    const int64_t first = recorder_.firstTimeUs();
    const int64_t last = std::max(recorder_.lastTimeUs(), first + 1);
    setView(first, static_cast<double>(last - first) / (traceWidth() - 1));
}

void TraceView::setMarker(int which, std::optional<int64_t> timeUs) {
    markers_[which] = timeUs;
    update();
    emit viewChanged();
}

void TraceView::setCursorTime(std::optional<int64_t> timeUs) {
    cursor_ = timeUs;
    update();
    emit viewChanged();
}

void TraceView::selectLane(int index) {
    if (lanes_.empty()) return;
    selected_ = std::clamp(index, 0, static_cast<int>(lanes_.size()) - 1);
    update();
    emit viewChanged();
}

bool TraceView::jumpToChange(bool forward) {
    if (lanes_.empty()) return false;
    const int64_t from = cursor_.value_or(forward ? startUs_ : xToTime(width()));
    const int64_t to = laneChangeTime(recorder_, lanes_[selected_], from, forward);
    if (to < 0) return false;
    follow_ = false;
    if (to < startUs_ || to >= xToTime(width()))
        startUs_ = to - std::llround(traceWidth() / 2 * usPerPixel_);
    setCursorTime(to);
    return true;
}

int TraceView::timeToX(int64_t timeUs) const {
    const double x = kLabelWidth + (timeUs - startUs_) / usPerPixel_;
    return static_cast<int>(std::clamp(x, -1e6, 1e6));
}

int64_t TraceView::xToTime(int x) const {
    return startUs_ + std::llround((x - kLabelWidth) * usPerPixel_);
}

int64_t TraceView::columnTime(int x) const {
    return startUs_ + static_cast<int64_t>(std::floor(x * usPerPixel_));
}

QString TraceView::timeText(int64_t timeUs) {
    const int64_t magnitude = timeUs < 0 ? -timeUs : timeUs;
    return QStringLiteral("%1%2.%3 с")
        .arg(timeUs < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 1'000'000)
        .arg(magnitude % 1'000'000, 6, 10, QLatin1Char('0'));
}

QString TraceView::durationText(int64_t us) {
    const double magnitude = std::abs(static_cast<double>(us));
    if (magnitude < 1000) return QStringLiteral("%1 мкс").arg(us);
    if (magnitude < 1e6) return QStringLiteral("%1 мс").arg(us / 1e3, 0, 'f', 3);
    return QStringLiteral("%1 с").arg(us / 1e6, 0, 'f', 6);
}

void TraceView::paintEvent(QPaintEvent*) {
    updateTraces();
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.drawImage(kLabelWidth, kRulerHeight, traces_);
    painter.setPen(palette().text().color());
    paintRuler(painter);
    for (size_t i = 0; i < lanes_.size(); ++i) {
        const int top = kRulerHeight + static_cast<int>(i) * kLaneHeight;
        if (top > height()) break;
        if (static_cast<int>(i) == selected_)
            painter.fillRect(0, top, kLabelWidth, kLaneHeight, palette().alternateBase());
        painter.setPen(palette().text().color());
        painter.drawText(QRect(4, top, kLabelWidth - 8, kLaneHeight), Qt::AlignVCenter,
                         QString::fromStdString(lanes_[i].name));
        painter.drawText(QRect(4, top, kLabelWidth - 8, kLaneHeight),
                         Qt::AlignVCenter | Qt::AlignRight, laneValueText(lanes_[i]));
        painter.setPen(palette().mid().color());
        painter.drawLine(0, top + kLaneHeight - 1, kLabelWidth, top + kLaneHeight - 1);
    }
    painter.setPen(palette().mid().color());
    painter.drawLine(kLabelWidth - 1, 0, kLabelWidth - 1, height());
    paintMarkers(painter);
}

// The traces are kept drawn between frames. A view moved by whole columns at the same zoom (a
// followed recording moving on, a scroll) moves the picture and draws only the columns that
// came into view, and those of the last moments again, where records may still arrive (the
// traffic is read every 20 ms); anything else draws it all.
void TraceView::updateTraces() {
    const QSize size(traceWidth(), std::max(1, height() - kRulerHeight));
    const int width = size.width();
    int from = 0;
    if (tracesValid_ && traces_.size() == size && drawnUsPerPixel_ == usPerPixel_) {
        const double shift = (startUs_ - drawnStartUs_) / usPerPixel_;
        const auto columns = static_cast<int>(std::lround(shift));
        if (std::abs(shift) < width) {
            if (columns != 0) {
                QImage moved(size, traces_.format());
                moved.fill(palette().base().color());
                QPainter mover(&moved);
                mover.drawImage(-columns, 0, traces_);
                traces_ = std::move(moved);
            }
            const int64_t recent = drawnUpToUs_ - kRedrawRecentUs;
            from = columns > 0 ? width - columns : width;
            from = std::min(from, std::clamp(timeToX(recent) - kLabelWidth, 0, width));
            if (columns < 0) renderColumns(0, std::min(-columns, width));
        } else {
            from = 0;
        }
    } else {
        traces_ = QImage(size, QImage::Format_RGB32);
    }
    renderColumns(from, width);
    tracesValid_ = true;
    drawnStartUs_ = startUs_;
    drawnUsPerPixel_ = usPerPixel_;
    drawnUpToUs_ = std::max(recorder_.lastTimeUs(), recorder_.nowUs());
}

void TraceView::renderColumns(int x0, int x1) {
    if (x1 <= x0) return;
    QPainter painter(&traces_);
    painter.translate(-kLabelWidth, -kRulerHeight);
    painter.fillRect(kLabelWidth + x0, kRulerHeight, x1 - x0, traces_.height(), palette().base());
    for (size_t i = 0; i < lanes_.size(); ++i) {
        const int top = kRulerHeight + static_cast<int>(i) * kLaneHeight;
        if (top > kRulerHeight + traces_.height()) break;
        painter.setClipRect(kLabelWidth + x0, top, x1 - x0, kLaneHeight);
        painter.setPen(palette().mid().color());
        painter.drawLine(kLabelWidth + x0, top + kLaneHeight - 1, kLabelWidth + x1,
                         top + kLaneHeight - 1);
        painter.setPen(palette().text().color());
        paintLane(painter, lanes_[i], top, x0, x1);
    }
}

void TraceView::redrawAll() {
    tracesValid_ = false;
    update();
}

// Ticks at a round step of at least 90 pixels, labelled with the time.
void TraceView::paintRuler(QPainter& painter) const {
    const double minStep = 90 * usPerPixel_;
    double step = std::pow(10.0, std::ceil(std::log10(std::max(minStep, 1.0))));
    if (step / 5 >= minStep)
        step /= 5;
    else if (step / 2 >= minStep)
        step /= 2;
    step = std::max(step, 1.0);
    const auto stepUs = static_cast<int64_t>(step);
    int64_t tick = startUs_ - ((startUs_ % stepUs) + stepUs) % stepUs;
    painter.drawLine(kLabelWidth, kRulerHeight - 1, width(), kRulerHeight - 1);
    for (; tick <= xToTime(width()); tick += stepUs) {
        const int x = timeToX(tick);
        if (x < kLabelWidth) continue;
        painter.drawLine(x, kRulerHeight - 6, x, kRulerHeight - 1);
        painter.drawText(x + 3, kRulerHeight - 8, timeText(tick));
    }
    painter.drawText(QRect(4, 0, kLabelWidth - 8, kRulerHeight), Qt::AlignVCenter,
                     durationText(std::llround(usPerPixel_ * 100)) + QStringLiteral(" / 100 пкс"));
}

void TraceView::paintLane(QPainter& painter, const Lane& lane, int top, int x0, int x1) const {
    if (signalKind(lane.signal) == SignalKind::Event)
        paintEventLane(painter, lane, top, x0, x1);
    else if (lane.isBit())
        paintBitLane(painter, lane, top, x0, x1);
    else
        paintValueLane(painter, lane, top, x0, x1);
}

// Per column: the level at its end, and an edge (a vertical line) where the bit changed in it.
void TraceView::paintBitLane(QPainter& painter, const Lane& lane, int top, int x0, int x1) const {
    const int high = top + kLevelInset;
    const int low = top + kLaneHeight - kLevelInset;
    size_t lo = recorder_.lowerBound(lane.signal, columnTime(x0));
    std::optional<int> lastY;
    if (lo > 0) lastY = lane.valueOf(recorder_.at(lane.signal, lo - 1).value) ? high : low;
    QBrush unknown(palette().mid().color(), Qt::BDiagPattern);
    for (int x = x0; x < x1; ++x) {
        const size_t hi = recorder_.lowerBound(lane.signal, columnTime(x + 1));
        const int px = kLabelWidth + x;
        if (hi == 0) {
            painter.fillRect(px, high, 1, low - high, unknown);
            lo = hi;
            continue;
        }
        const int y = lane.valueOf(recorder_.at(lane.signal, hi - 1).value) ? high : low;
        const bool edge = hi > lo && (recorder_.activity(lane.signal, lo, hi) & lane.mask);
        if (edge || (lastY && *lastY != y))
            painter.drawLine(px, high, px, low);
        else
            painter.drawPoint(px, y);
        lastY = y;
        lo = hi;
    }
}

// A bus: two lines with the value written in each stretch wide enough, a cross at each change.
void TraceView::paintValueLane(QPainter& painter, const Lane& lane, int top, int x0, int x1) const {
    const int high = top + kLevelInset - 1;
    const int low = top + kLaneHeight - kLevelInset + 1;
    size_t lo = recorder_.lowerBound(lane.signal, columnTime(x0));
    int runStart = kLabelWidth + x0;
    std::optional<uint8_t> runValue;
    const auto closeRun = [&](int end) {
        if (!runValue) {
            painter.fillRect(runStart, high, end - runStart, low - high,
                             QBrush(palette().mid().color(), Qt::BDiagPattern));
            return;
        }
        painter.drawLine(runStart, high, end, high);
        painter.drawLine(runStart, low, end, low);
        if (end - runStart >= kMinLabelPixels)
            painter.drawText(QRect(runStart + 3, high, end - runStart - 3, low - high),
                             Qt::AlignVCenter, hexByte(*runValue));
    };
    for (int x = x0; x < x1; ++x) {
        const size_t hi = recorder_.lowerBound(lane.signal, columnTime(x + 1));
        const int px = kLabelWidth + x;
        std::optional<uint8_t> value;
        if (hi > 0) value = recorder_.at(lane.signal, hi - 1).value;
        const bool changed = hi > lo && recorder_.activity(lane.signal, lo, hi) != 0;
        if (changed || value != runValue || x == x0) {
            if (x > x0) closeRun(px);
            if (changed) {
                painter.drawLine(px - 2, high, px + 2, low);
                painter.drawLine(px - 2, low, px + 2, high);
            }
            runStart = px;
            runValue = value;
        }
        lo = hi;
    }
    closeRun(kLabelWidth + x1);
}

// A tick for every column with events; a byte or an event's name written beside it where there
// is room before the next.
void TraceView::paintEventLane(QPainter& painter, const Lane& lane, int top, int x0, int x1) const {
    const int high = top + 3;
    const int low = top + kLaneHeight - 3;
    size_t lo = recorder_.lowerBound(lane.signal, columnTime(x0));
    int labelEnd = 0;
    const bool bytes = !lane.isBit();
    for (int x = x0; x < x1; ++x) {
        const size_t hi = recorder_.lowerBound(lane.signal, columnTime(x + 1));
        if (hi > lo && (recorder_.activity(lane.signal, lo, hi) & lane.mask)) {
            const int px = kLabelWidth + x;
            painter.drawLine(px, high, px, low);
            if (!bytes) painter.drawLine(px - 3, high, px + 3, high);
            const Record record = recorder_.at(lane.signal, hi - 1);
            const size_t next = hi;
            const int nextX = next < recorder_.size(lane.signal)
                                  ? timeToX(recorder_.at(lane.signal, next).timeUs)
                                  : width();
            if (px >= labelEnd && nextX - px >= kMinLabelPixels && hi - lo == 1) {
                const QString text = bytes ? hexByte(record.value) + byteFlagsText(record.flags)
                                           : QString::fromStdString(lane.name);
                const int textWidth = painter.fontMetrics().horizontalAdvance(text);
                if (nextX - px > textWidth + 4) {
                    painter.drawText(px + 3, low - 4, text);
                    labelEnd = px + textWidth + 4;
                }
            }
        }
        lo = hi;
    }
}

void TraceView::paintMarkers(QPainter& painter) const {
    const std::array<QString, 2> names = {QStringLiteral("A"), QStringLiteral("B")};
    for (int i = 0; i < 2; ++i) {
        if (!markers_[i]) continue;
        const int x = timeToX(*markers_[i]);
        if (x < kLabelWidth || x > width()) continue;
        QPen pen(palette().highlight().color(), 1, i == 0 ? Qt::SolidLine : Qt::DashLine);
        painter.setPen(pen);
        painter.drawLine(x, 0, x, height());
        painter.fillRect(x - 7, 0, 14, 14, palette().highlight());
        painter.setPen(palette().highlightedText().color());
        painter.drawText(QRect(x - 7, 0, 14, 14), Qt::AlignCenter, names[i]);
    }
    if (cursor_) {
        const int x = timeToX(*cursor_);
        if (x >= kLabelWidth && x <= width()) {
            painter.setPen(QPen(palette().text().color(), 1, Qt::DotLine));
            painter.drawLine(x, kRulerHeight, x, height());
        }
    }
}

QString TraceView::laneValueText(const Lane& lane) const {
    const std::optional<int64_t> at = cursor_ ? cursor_ : markers_[0];
    if (!at) return {};
    const LaneValue value = laneValueAt(recorder_, lane, *at);
    if (!value.known) return QStringLiteral("?");
    if (signalKind(lane.signal) == SignalKind::Event && value.value == 0)
        return QStringLiteral("-");
    return lane.isBit() ? QString::number(value.value) : hexByte(value.value);
}

void TraceView::mousePressEvent(QMouseEvent* event) {
    const int x = static_cast<int>(event->position().x());
    const int y = static_cast<int>(event->position().y());
    if (y >= kRulerHeight) selectLane((y - kRulerHeight) / kLaneHeight);
    if (x < kLabelWidth) return;
    if (event->button() == Qt::LeftButton) setMarker(0, xToTime(x));
    if (event->button() == Qt::RightButton) setMarker(1, xToTime(x));
}

void TraceView::mouseMoveEvent(QMouseEvent* event) {
    const int x = static_cast<int>(event->position().x());
    setCursorTime(x >= kLabelWidth ? std::optional<int64_t>(xToTime(x)) : std::nullopt);
}

void TraceView::leaveEvent(QEvent*) {
    setCursorTime(std::nullopt);
}

void TraceView::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) return;
    if (event->modifiers() & Qt::ControlModifier)
        zoom(std::pow(1.25, -steps), static_cast<int>(event->position().x()));
    else
        scrollPixels(-steps * traceWidth() / 8);
}

void TraceView::keyPressEvent(QKeyEvent* event) {
    const int middle = kLabelWidth + traceWidth() / 2;
    const int at = cursor_ ? timeToX(*cursor_) : middle;
    switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            zoom(0.5, at);
            break;
        case Qt::Key_Minus:
            zoom(2.0, at);
            break;
        case Qt::Key_Left:
            scrollPixels(-traceWidth() / 8);
            break;
        case Qt::Key_Right:
            scrollPixels(traceWidth() / 8);
            break;
        case Qt::Key_Up:
            selectLane(selected_ - 1);
            break;
        case Qt::Key_Down:
            selectLane(selected_ + 1);
            break;
        case Qt::Key_N:
            jumpToChange(true);
            break;
        case Qt::Key_P:
            jumpToChange(false);
            break;
        case Qt::Key_A:
        case Qt::Key_B:
            setMarker(event->key() == Qt::Key_A ? 0 : 1, cursor_ ? *cursor_ : xToTime(middle));
            break;
        case Qt::Key_Home:
            follow_ = false;
            setView(recorder_.firstTimeUs(), usPerPixel_);
            break;
        case Qt::Key_End:
            setFollow(true);
            break;
        default:
            QWidget::keyPressEvent(event);
    }
}

}  // namespace timeline
