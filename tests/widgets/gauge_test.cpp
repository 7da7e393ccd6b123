#include "widgets/gauge.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <cstdint>
#include <limits>
#include <optional>

namespace widgets {
namespace {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlue = 0xFF0000FF;
constexpr QRgb kYellow = 0xFFFFFF00;  // the inverse of blue
constexpr QRgb kGreen = 0xFF00FF00;
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

std::optional<QRect> boundsOf(const QImage& image, QRgb colour) {
    std::optional<QRect> box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour) box = QRect(x, y, 1, 1).united(box.value_or(QRect()));
        }
    }
    return box;
}

bool allPixels(const QImage& image, const QRect& area, QRgb colour) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixel(x, y) != colour) return false;
    return true;
}

// `text` as the gauge writes it, white on black and unsmoothed, cropped to its ink.
QImage referenceText(const QFont& font, const QString& text) {
    QFont plain = font;
    plain.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(plain);
    QImage image(metrics.horizontalAdvance(text) + 20, metrics.height() + 20, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setFont(plain);
    painter.setPen(Qt::white);
    painter.drawText(10, 10 + metrics.ascent(), text);
    painter.end();
    return image.copy(*boundsOf(image, kWhite));
}

class GaugeTest : public ::testing::Test {
protected:
    QImage shot() { return gauge.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Blue on white over a green face, as in most pictures below.
    void setUp(TGaugeKind kind, TBorderStyle border, int32_t progress, int32_t maxValue,
               bool showText) {
        gauge.SetKind(kind);
        gauge.SetBorderStyle(border);
        gauge.SetShowText(showText);
        gauge.SetForeColor(QColor(kBlue));
        gauge.SetMaxValue(maxValue);
        gauge.SetProgress(progress);
        QPalette palette = gauge.palette();
        palette.setColor(QPalette::Window, QColor(kGreen));
        gauge.setPalette(palette);
    }

    // Counts the paints after the gauge has been shown and painted once.
    PaintCounter& watchPaints() {
        gauge.show();
        QCoreApplication::processEvents();
        gauge.installEventFilter(&counter);
        return counter;
    }

    TGauge gauge;
    PaintCounter counter;
};

TEST_F(GaugeTest, DefaultsAreAHundredPixelBorderedBarFromZeroToHundred) {
    EXPECT_EQ(gauge.size(), QSize(100, 100));
    EXPECT_EQ(gauge.Kind(), gkHorizontalBar);
    EXPECT_TRUE(gauge.ShowText());
    EXPECT_EQ(gauge.BorderStyle(), bsSingle);
    EXPECT_EQ(gauge.ForeColor(), QColor(Qt::black));
    EXPECT_EQ(gauge.BackColor(), QColor(Qt::white));
    EXPECT_EQ(gauge.MinValue(), 0);
    EXPECT_EQ(gauge.MaxValue(), 100);
    EXPECT_EQ(gauge.Progress(), 0);
}

TEST_F(GaugeTest, SevenStepsShowTruncatedPercentages) {
    gauge.SetMaxValue(7);
    const int32_t expected[] = {0, 14, 28, 42, 57, 71, 85, 100};
    for (int32_t step = 0; step <= 7; ++step) {
        gauge.SetProgress(step);
        EXPECT_EQ(gauge.PercentDone(), expected[step]) << "step " << step;
    }
}

TEST_F(GaugeTest, PercentDoneSurvivesEqualLimitsAndTheFullIntegerRange) {
    gauge.SetMaxValue(0);
    EXPECT_EQ(gauge.PercentDone(), 0);
    gauge.SetMinValue(kInt32Min);
    gauge.SetMaxValue(kInt32Max);
    gauge.SetProgress(0);
    EXPECT_EQ(gauge.PercentDone(), 50);
}

TEST_F(GaugeTest, ProgressIsClampedIntoTheLimits) {
    gauge.SetMaxValue(7);
    gauge.SetProgress(9);
    EXPECT_EQ(gauge.Progress(), 7);
    EXPECT_EQ(gauge.PercentDone(), 100);
    gauge.SetMinValue(2);
    gauge.SetProgress(-3);
    EXPECT_EQ(gauge.Progress(), 2);
}

TEST_F(GaugeTest, MovingALimitPastProgressDragsProgressAlong) {
    gauge.SetProgress(20);
    gauge.SetMinValue(30);
    EXPECT_EQ(gauge.Progress(), 30);
    gauge.SetMaxValue(90);
    gauge.SetProgress(80);
    gauge.SetMaxValue(50);
    EXPECT_EQ(gauge.Progress(), 50);
}

struct RangeErrorCase {
    const char* name;
    int32_t minValue, maxValue;
    bool writeMin;
    int32_t written;
    const char* message;
};

class GaugeRangeErrorTest : public GaugeTest,
                            public ::testing::WithParamInterface<RangeErrorCase> {};

TEST_P(GaugeRangeErrorTest, LimitPastTheOtherThrowsAndChangesNothing) {
    const RangeErrorCase& c = GetParam();
    gauge.SetMaxValue(kInt32Max);
    gauge.SetMinValue(c.minValue);
    gauge.SetMaxValue(c.maxValue);
    gauge.SetProgress(c.maxValue);
    try {
        c.writeMin ? gauge.SetMinValue(c.written) : gauge.SetMaxValue(c.written);
        FAIL() << "no error";
    } catch (const EInvalidOperation& error) {
        EXPECT_STREQ(error.what(), c.message);
    }
    EXPECT_EQ(gauge.MinValue(), c.minValue);
    EXPECT_EQ(gauge.MaxValue(), c.maxValue);
    EXPECT_EQ(gauge.Progress(), c.maxValue);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, GaugeRangeErrorTest,
    ::testing::Values(
        RangeErrorCase{"MaxBelowMin", 10, 20, false, 9, "Value must be between 11 and 2147483647"},
        RangeErrorCase{"MinAboveMax", 10, 20, true, 21, "Value must be between -2147483647 and 19"},
        // At the ends of the range the named limit lies outside 32 bits; it must not wrap.
        RangeErrorCase{"MinAboveLowestMax", kInt32Min, kInt32Min, true, 0,
                       "Value must be between -2147483647 and -2147483649"},
        RangeErrorCase{"MaxBelowHighestMin", kInt32Max, kInt32Max, false, 0,
                       "Value must be between 2147483648 and 2147483647"}),
    [](const ::testing::TestParamInfo<RangeErrorCase>& param) { return param.param.name; });

TEST_F(GaugeTest, ProgressThatKeepsThePercentageIsStoredWithoutRepaint) {
    gauge.SetMaxValue(1000);
    gauge.SetProgress(1);
    PaintCounter& paints = watchPaints();
    gauge.SetProgress(2);
    QCoreApplication::processEvents();
    EXPECT_EQ(gauge.Progress(), 2);
    EXPECT_EQ(paints.paints, 0);
    gauge.SetProgress(500);
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.paints, 1);
}

TEST_F(GaugeTest, WritingAPropertyItsCurrentValueDoesNotRepaint) {
    PaintCounter& paints = watchPaints();
    gauge.SetKind(gkHorizontalBar);
    gauge.SetShowText(true);
    gauge.SetBorderStyle(bsSingle);
    gauge.SetForeColor(Qt::black);
    gauge.SetMinValue(0);
    gauge.SetMaxValue(100);
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.paints, 0);
    gauge.SetBackColor(Qt::red);
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.paints, 1);
}

// One region of one picture of a 100 x 100 gauge without text, blue on white, green face.
struct PixelCase {
    const char* name;
    TGaugeKind kind;
    TBorderStyle border;
    int32_t progress, maxValue;
    QRect area;
    QRgb colour;
};

class GaugePixelTest : public GaugeTest, public ::testing::WithParamInterface<PixelCase> {};

TEST_P(GaugePixelTest, RegionHasItsColour) {
    const PixelCase& c = GetParam();
    setUp(c.kind, c.border, c.progress, c.maxValue, false);
    EXPECT_TRUE(allPixels(shot(), c.area, c.colour));
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, GaugePixelTest,
    ::testing::Values(
        PixelCase{"BorderTopRow", gkText, bsSingle, 0, 100, {0, 0, 100, 1}, kBlack},
        PixelCase{"BorderRightColumn", gkText, bsSingle, 0, 100, {99, 0, 1, 100}, kBlack},
        PixelCase{"TextFaceInsideBorder", gkText, bsSingle, 0, 100, {1, 1, 98, 98}, kWhite},
        PixelCase{"TextFaceWithoutBorder", gkText, bsNone, 0, 100, {0, 0, 100, 100}, kWhite},
        // Step 4 of 7 is 57%: 56 of the 99 pixels, the right edge exclusive.
        PixelCase{"BarStepFourFilled", gkHorizontalBar, bsSingle, 4, 7, {1, 1, 55, 98}, kBlue},
        PixelCase{"BarStepFourRest", gkHorizontalBar, bsSingle, 4, 7, {56, 1, 43, 98}, kWhite},
        PixelCase{"BarEmpty", gkHorizontalBar, bsSingle, 0, 100, {1, 1, 98, 98}, kWhite},
        PixelCase{"BarFullNoBorder", gkHorizontalBar, bsNone, 100, 100, {0, 0, 100, 100}, kBlue},
        PixelCase{"VerticalFullTopRow", gkVerticalBar, bsNone, 100, 100, {0, 0, 100, 1}, kWhite},
        PixelCase{"VerticalFullBelow", gkVerticalBar, bsNone, 100, 100, {0, 1, 100, 99}, kBlue},
        PixelCase{"VerticalFullBorder", gkVerticalBar, bsSingle, 100, 100, {0, 0, 100, 1}, kBlack},
        PixelCase{"VerticalFullInside", gkVerticalBar, bsSingle, 100, 100, {1, 1, 98, 98}, kBlue},
        PixelCase{"VerticalHalfTop", gkVerticalBar, bsSingle, 50, 100, {1, 1, 98, 49}, kWhite},
        PixelCase{"VerticalHalfBottom", gkVerticalBar, bsSingle, 50, 100, {1, 50, 98, 49}, kBlue},
        PixelCase{"PieQuarterUpperRight", gkPie, bsSingle, 25, 100, {65, 25, 10, 10}, kBlue},
        PixelCase{"PieQuarterUpperLeft", gkPie, bsSingle, 25, 100, {25, 25, 10, 10}, kWhite},
        PixelCase{"PieQuarterLowerRight", gkPie, bsSingle, 25, 100, {65, 65, 10, 10}, kWhite},
        PixelCase{"PieFaceCorner", gkPie, bsSingle, 25, 100, {1, 1, 4, 4}, kGreen},
        PixelCase{"PieHalfLowerRight", gkPie, bsSingle, 50, 100, {65, 65, 10, 10}, kBlue},
        PixelCase{"PieHalfLowerLeft", gkPie, bsSingle, 50, 100, {25, 65, 10, 10}, kWhite},
        PixelCase{"PieFullUpperLeft", gkPie, bsSingle, 100, 100, {25, 25, 10, 10}, kBlue},
        PixelCase{"PieEmptyUpperRight", gkPie, bsSingle, 0, 100, {65, 25, 10, 10}, kWhite},
        PixelCase{"NeedleHalfUpright", gkNeedle, bsSingle, 50, 100, {50, 20, 1, 70}, kBlue},
        PixelCase{"NeedleHalfBeside", gkNeedle, bsSingle, 50, 100, {30, 60, 10, 20}, kWhite},
        PixelCase{"NeedleFaceCorner", gkNeedle, bsSingle, 50, 100, {1, 1, 4, 4}, kGreen},
        PixelCase{"NeedleZeroNotDrawn", gkNeedle, bsSingle, 0, 100, {50, 20, 1, 70}, kWhite}),
    [](const ::testing::TestParamInfo<PixelCase>& param) { return param.param.name; });

struct TextCase {
    int32_t progress, maxValue;
    const char* text;
};

class GaugeTextTest : public GaugeTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(GaugeTextTest, PercentageIsWrittenInBlackOnTheWhiteFace) {
    const TextCase& c = GetParam();
    setUp(gkText, bsSingle, c.progress, c.maxValue, true);
    const QImage face = shot().copy(1, 1, 98, 98);
    const std::optional<QRect> ink = boundsOf(face, kBlack);
    ASSERT_TRUE(ink.has_value());
    const QImage reference = referenceText(gauge.font(), QString::fromLatin1(c.text));
    const QImage written = face.copy(*ink);
    ASSERT_EQ(written.size(), reference.size());
    for (int y = 0; y < written.height(); ++y)
        for (int x = 0; x < written.width(); ++x)
            ASSERT_EQ(written.pixel(x, y), reference.pixel(x, y) == kWhite ? kBlack : kWhite);
    const QPointF centre = QRectF(*ink).center();
    EXPECT_NEAR(centre.x(), 49.0, 4.0);
    EXPECT_NEAR(centre.y(), 49.0, 8.0);
}

INSTANTIATE_TEST_SUITE_P(Texts, GaugeTextTest,
                         ::testing::Values(TextCase{4, 7, "57%"}, TextCase{0, 0, "0%"},
                                           TextCase{9, 7, "100%"}),
                         [](const auto& testCase) {
                             return "Progress" + std::to_string(testCase.param.progress) + "Of" +
                                    std::to_string(testCase.param.maxValue);
                         });

TEST_F(GaugeTest, TextOverTheBarIsTheExactInverseOfWhatLiesBeneath) {
    setUp(gkHorizontalBar, bsNone, 50, 100, true);
    const QImage image = shot();
    const QImage onBar = image.copy(0, 0, 50, 100);
    const QImage offBar = image.copy(50, 0, 50, 100);
    EXPECT_TRUE(boundsOf(onBar, kYellow).has_value());
    EXPECT_TRUE(boundsOf(offBar, kBlack).has_value());
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 50; ++x) {
            ASSERT_TRUE(onBar.pixel(x, y) == kBlue || onBar.pixel(x, y) == kYellow);
            ASSERT_TRUE(offBar.pixel(x, y) == kWhite || offBar.pixel(x, y) == kBlack);
        }
    }
}

TEST_F(GaugeTest, TextTooLargeForTheGaugeIsClippedInsideTheBorder) {
    setUp(gkText, bsSingle, 88, 100, true);
    gauge.resize(24, 10);
    QFont big = gauge.font();
    big.setPixelSize(40);
    gauge.setFont(big);
    const QImage image = shot();
    EXPECT_TRUE(allPixels(image, QRect(0, 0, 24, 1), kBlack));
    EXPECT_TRUE(allPixels(image, QRect(0, 9, 24, 1), kBlack));
    EXPECT_TRUE(allPixels(image, QRect(0, 0, 1, 10), kBlack));
    EXPECT_TRUE(allPixels(image, QRect(23, 0, 1, 10), kBlack));
    EXPECT_TRUE(boundsOf(image.copy(1, 1, 22, 8), kBlack).has_value());
}

TEST(OffscreenBitmap, CombineInvertedIsExclusiveOrAndKeepsPixelsOpaque) {
    TOffscreenBitmap target(QSize(2, 1));
    target.image().fill(0xFF123456);
    TOffscreenBitmap source;
    source.MakeLike(target);
    source.image().setPixel(0, 0, kWhite);
    source.image().setPixel(1, 0, kBlack);
    target.combineInverted(source);
    EXPECT_EQ(target.image().pixel(0, 0), 0xFFEDCBA9);
    EXPECT_EQ(target.image().pixel(1, 0), 0xFF123456);
}

}  // namespace
}  // namespace widgets
