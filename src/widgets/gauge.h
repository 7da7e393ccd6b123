#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QWidget>
#include <cstdint>
#include <stdexcept>

class QPainter;

namespace widgets {

enum TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };

enum TBorderStyle { bsNone, bsSingle };

// The toolkit's error for an operation that would leave a control in an invalid state. It is
// not a serial error, so the application-wide handler ends the command without a message.
class EInvalidOperation : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// A memory bitmap the gauge paints into. Combining with combineInverted is a bitwise exclusive
// or of the colours, so whatever is white in the source shows inverted in the target.
class TOffscreenBitmap {
public:
    TOffscreenBitmap() = default;
    explicit TOffscreenBitmap(QSize size);

    // Takes the template's size and fills the whole bitmap with the window frame colour.
    void MakeLike(const TOffscreenBitmap& templateBitmap);
    void paintBlack();
    void combineInverted(const TOffscreenBitmap& source);

    QImage& image() { return image_; }
    const QImage& image() const { return image_; }

private:
    QImage image_;
};

// A progress display: the share of Progress between MinValue and MaxValue as a bar, a pie, a
// needle or bare text, with the percentage written over it in the inverse of what lies
// beneath. Every paint is composed on memory bitmaps and reaches the widget as one copy.
//
// MinValue <= Progress <= MaxValue holds after every write: Progress is clamped, and a range
// limit written past the other one throws EInvalidOperation and changes nothing. The windows
// here are built in code, never streamed from a description, so there is no loading state in
// which that check would be relaxed.
//
// The face behind the pie and the needle is the palette's window colour, inherited from the
// parent like any widget's; the percentage uses the widget's font.
class TGauge : public QWidget {
    Q_OBJECT

public:
    explicit TGauge(QWidget* parent = nullptr);

    TGaugeKind Kind() const { return Kind_; }
    void SetKind(TGaugeKind kind);
    bool ShowText() const { return ShowText_; }
    void SetShowText(bool show);
    TBorderStyle BorderStyle() const { return BorderStyle_; }
    void SetBorderStyle(TBorderStyle style);
    QColor ForeColor() const { return ForeColor_; }
    void SetForeColor(const QColor& color);
    QColor BackColor() const { return BackColor_; }
    void SetBackColor(const QColor& color);

    int32_t MinValue() const { return MinValue_; }
    void SetMinValue(int32_t value);
    int32_t MaxValue() const { return MaxValue_; }
    void SetMaxValue(int32_t value);
    int32_t Progress() const { return Progress_; }
    void SetProgress(int32_t value);

    // The whole percentage of Progress between the limits; 0 when the limits are equal.
    int32_t PercentDone() const;

    QSize sizeHint() const override { return {100, 100}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The paint rectangle as Left, Top, Right, Bottom, right and bottom exclusive.
    struct Bounds {
        int Left, Top, Right, Bottom;
    };

    template <typename T>
    void setAndRepaint(T& field, const T& value);
    QImage paintImage() const;
    void paintAsText(QPainter& painter, const Bounds& r) const;
    void paintAsBar(QPainter& painter, const Bounds& r) const;
    void paintAsPie(QPainter& painter, const Bounds& r) const;
    void paintAsNeedle(QPainter& painter, const Bounds& r) const;
    void paintText(TOffscreenBitmap& image, const Bounds& r) const;

    TGaugeKind Kind_ = gkHorizontalBar;
    bool ShowText_ = true;
    TBorderStyle BorderStyle_ = bsSingle;
    QColor ForeColor_ = Qt::black;
    QColor BackColor_ = Qt::white;
    int32_t MinValue_ = 0;
    int32_t MaxValue_ = 100;
    int32_t Progress_ = 0;
};

}  // namespace widgets
