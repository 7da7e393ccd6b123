#include "widgets/gauge.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <QString>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

namespace widgets {

namespace {

// The limits of the messages are worked out in 64 bits: at the ends of the 32-bit range
// MaxValue - 1 and MinValue + 1 would overflow.
[[noreturn]] void throwRangeError(int64_t low, int64_t high) {
    throw EInvalidOperation("Value must be between " + std::to_string(low) + " and " +
                            std::to_string(high));
}

// The drawing coordinates below are those of a canvas whose rectangles leave out their right
// column and bottom row; these turn them into Qt's inclusive geometry.
QRect fillArea(int left, int top, int right, int bottom) {
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}
// An outlined shape with a 1-pixel pen covers its box like a fill does.
QRect outlineBox(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left - 1, bottom - top - 1);
}

int pixelShare(int size, int percent) {
    return static_cast<int>(std::trunc(size * (percent * 0.01)));
}

int roundHalfEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}

// A slice edge is named by a point: the edge runs along the radial from the box's centre
// through it. Qt takes the ellipse's own parameter angle, in sixteenths of a degree
// counter-clockwise from three o'clock, so the radial's direction is rescaled by the semi-axes.
int radialAngle16(const QRect& box, QPoint point) {
    const QPointF centre = QRectF(box).center();
    const double semiX = std::max(box.width(), 1) / 2.0;
    const double semiY = std::max(box.height(), 1) / 2.0;
    const double angle =
        std::atan2(-(point.y() - centre.y()) / semiY, (point.x() - centre.x()) / semiX);
    return static_cast<int>(std::lround(angle * 180.0 / std::numbers::pi * 16.0));
}

// The slice runs counter-clockwise from the radial through `from` to the one through `to`;
// when both radials coincide it is the whole ellipse.
void drawPieBetween(QPainter& painter, const QRect& box, QPoint from, QPoint to) {
    constexpr int fullCircle = 360 * 16;
    const int start = radialAngle16(box, from);
    int span = (radialAngle16(box, to) - start) % fullCircle;
    if (span <= 0) span += fullCircle;
    painter.drawPie(box, start, span);
}

}  // namespace

TOffscreenBitmap::TOffscreenBitmap(QSize size) : image_(size, QImage::Format_RGB32) {}

void TOffscreenBitmap::MakeLike(const TOffscreenBitmap& templateBitmap) {
    image_ = QImage(templateBitmap.image_.size(), QImage::Format_RGB32);
    // Qt has no role for the window frame; the window text colour is the one drawn in its place.
    image_.fill(QApplication::palette().color(QPalette::WindowText));
}

void TOffscreenBitmap::paintBlack() {
    image_.fill(Qt::black);
}

void TOffscreenBitmap::combineInverted(const TOffscreenBitmap& source) {
    // Only the colour bits take part: the alpha byte of an RGB32 pixel must stay opaque.
    constexpr QRgb colourBits = 0x00FFFFFF;
    const int width = std::min(image_.width(), source.image_.width());
    const int height = std::min(image_.height(), source.image_.height());
    for (int y = 0; y < height; ++y) {
        auto* target = reinterpret_cast<QRgb*>(image_.scanLine(y));
        const auto* from = reinterpret_cast<const QRgb*>(source.image_.constScanLine(y));
        for (int x = 0; x < width; ++x) target[x] ^= from[x] & colourBits;
    }
}

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

template <typename T>
void TGauge::setAndRepaint(T& field, const T& value) {
    if (field == value) return;
    field = value;
    update();
}

void TGauge::SetKind(TGaugeKind kind) {
    setAndRepaint(Kind_, kind);
}
void TGauge::SetShowText(bool show) {
    setAndRepaint(ShowText_, show);
}
void TGauge::SetBorderStyle(TBorderStyle style) {
    setAndRepaint(BorderStyle_, style);
}
void TGauge::SetForeColor(const QColor& color) {
    setAndRepaint(ForeColor_, color);
}
void TGauge::SetBackColor(const QColor& color) {
    setAndRepaint(BackColor_, color);
}

void TGauge::SetMinValue(int32_t value) {
    if (value == MinValue_) return;
    if (value > MaxValue_) {
        throwRangeError(-int64_t{std::numeric_limits<int32_t>::max()}, int64_t{MaxValue_} - 1);
    }
    MinValue_ = value;
    if (Progress_ < MinValue_) Progress_ = MinValue_;
    update();
}

void TGauge::SetMaxValue(int32_t value) {
    if (value == MaxValue_) return;
    if (value < MinValue_) {
        throwRangeError(int64_t{MinValue_} + 1, std::numeric_limits<int32_t>::max());
    }
    MaxValue_ = value;
    if (Progress_ > MaxValue_) Progress_ = MaxValue_;
    update();
}

void TGauge::SetProgress(int32_t value) {
    const int32_t clamped = std::clamp(value, MinValue_, MaxValue_);
    if (clamped == Progress_) return;
    const int32_t before = PercentDone();
    Progress_ = clamped;
    if (PercentDone() != before) update();
}

int32_t TGauge::PercentDone() const {
    // 64-bit differences: the span of the full 32-bit range does not fit 32 bits.
    const int64_t span = int64_t{MaxValue_} - MinValue_;
    if (span == 0) return 0;
    const auto done = static_cast<double>(int64_t{Progress_} - MinValue_);
    return static_cast<int32_t>(std::trunc(done * 100.0 / static_cast<double>(span)));
}

void TGauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, paintImage());
}

QImage TGauge::paintImage() const {
    TOffscreenBitmap image(size());
    image.paintBlack();
    // With a single border the black rim left around the paint rectangle is the border.
    const int inset = BorderStyle_ == bsSingle ? 1 : 0;
    const Bounds r{inset, inset, width() - inset, height() - inset};

    TOffscreenBitmap overlay;
    overlay.MakeLike(image);
    overlay.paintBlack();
    {
        QPainter painter(&overlay.image());
        switch (Kind_) {
            case gkText:
                paintAsText(painter, r);
                break;
            case gkHorizontalBar:
            case gkVerticalBar:
                paintAsBar(painter, r);
                break;
            case gkPie:
                paintAsPie(painter, r);
                break;
            case gkNeedle:
                paintAsNeedle(painter, r);
                break;
        }
    }
    image.combineInverted(overlay);

    if (ShowText_) paintText(image, r);
    return image.image();
}

void TGauge::paintAsText(QPainter& painter, const Bounds& r) const {
    painter.fillRect(fillArea(r.Left, r.Top, r.Right, r.Bottom), BackColor_);
}

void TGauge::paintAsBar(QPainter& painter, const Bounds& r) const {
    const int w = r.Right - r.Left + 1;
    const int h = r.Bottom - r.Top + 1;
    painter.fillRect(fillArea(r.Left, r.Top, r.Right, r.Bottom), BackColor_);
    if (Kind_ == gkHorizontalBar) {
        const int x = std::min(pixelShare(w, PercentDone()), w);
        if (x >= 1) painter.fillRect(fillArea(r.Left, r.Top, x, h), ForeColor_);
    } else {
        // Capped one short of the full height, so a full bar leaves the top row unfilled.
        int y = pixelShare(h, PercentDone());
        if (y >= h) y = h - 1;
        painter.fillRect(fillArea(r.Left, h - y, w, h), ForeColor_);
    }
}

void TGauge::paintAsPie(QPainter& painter, const Bounds& r) const {
    const int grow = BorderStyle_ == bsSingle ? 1 : 0;
    const int w = r.Right - r.Left + grow;
    const int h = r.Bottom - r.Top + grow;
    painter.fillRect(fillArea(r.Left, r.Top, r.Right, r.Bottom), palette().color(QPalette::Window));
    painter.setPen(QPen(ForeColor_, 1));
    painter.setBrush(BackColor_);
    const QRect box = outlineBox(r.Left, r.Top, w, h);
    painter.drawEllipse(box);
    const int percent = PercentDone();
    if (percent <= 0) return;
    painter.setBrush(ForeColor_);
    const int mx = w / 2;
    const int my = h / 2;
    const double angle = (percent / 50.0 + 0.5) * std::numbers::pi;
    const QPoint from(roundHalfEven(mx * (1 - std::cos(angle))),
                      roundHalfEven(my * (1 - std::sin(angle))));
    drawPieBetween(painter, box, from, QPoint(mx, 0));
}

void TGauge::paintAsNeedle(QPainter& painter, const Bounds& r) const {
    const int grow = BorderStyle_ == bsSingle ? 1 : 0;
    const int x = r.Left;
    const int y = r.Top;
    const int w = r.Right - r.Left + grow;
    const int h = r.Bottom - r.Top + grow;
    painter.fillRect(fillArea(r.Left, r.Top, r.Right, r.Bottom), palette().color(QPalette::Window));
    painter.setPen(QPen(ForeColor_, 1));
    painter.setBrush(BackColor_);
    // The upper half of an ellipse twice the height of the face: a half disc on the bottom edge.
    drawPieBetween(painter, outlineBox(x, y, w, 2 * h - 1), QPoint(x + w, r.Bottom - 1),
                   QPoint(x, r.Bottom - 1));
    painter.drawLine(x, r.Bottom, x + w, r.Bottom);
    const int percent = PercentDone();
    if (percent <= 0) return;
    const int mx = width() / 2;
    const double angle = percent / 100.0 * std::numbers::pi;
    painter.drawLine(QPoint(mx, r.Bottom - 1),
                     QPoint(roundHalfEven(mx * (1 - std::cos(angle))),
                            roundHalfEven((r.Bottom - 1) * (1 - std::sin(angle)))));
}

void TGauge::paintText(TOffscreenBitmap& image, const Bounds& r) const {
    TOffscreenBitmap textBitmap;
    textBitmap.MakeLike(image);
    textBitmap.paintBlack();
    {
        QPainter painter(&textBitmap.image());
        // Without smoothing every text pixel is pure white, so the exclusive or below inverts
        // the colour beneath exactly instead of blending it into some unrelated colour.
        QFont textFont = font();
        textFont.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(textFont);
        const QFontMetrics metrics(textFont);
        const QString text = QString::number(PercentDone()) + QLatin1Char('%');
        const int x = (r.Right - r.Left + 1 - metrics.horizontalAdvance(text)) / 2;
        const int y = (r.Bottom - r.Top + 1 - metrics.height()) / 2;
        painter.setClipRect(fillArea(r.Left, r.Top, r.Right, r.Bottom));
        painter.setPen(Qt::white);
        painter.drawText(x, y + metrics.ascent(), text);
    }
    image.combineInverted(textBitmap);
}

}  // namespace widgets
