#include "app/jpeg_image.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <cstdlib>
#include <ostream>

#include "app/resources.h"

namespace {

QByteArray splashJpeg() {
    QFile file(app::resourcePath("splash.jpg"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

bool near(QRgb pixel, int red, int green, int blue) {
    constexpr int kTolerance = 16;
    return std::abs(qRed(pixel) - red) <= kTolerance &&
           std::abs(qGreen(pixel) - green) <= kTolerance &&
           std::abs(qBlue(pixel) - blue) <= kTolerance;
}

TEST(JpegImage, SplashPictureDecodesToItsSizeAndColours) {
    const QImage image = app::decodeJpeg(splashJpeg());
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(404, 302));
    // The picture is a vertical gradient from dark blue to light blue.
    EXPECT_TRUE(near(image.pixel(2, 1), 0x1c, 0x3f, 0x7a)) << std::hex << image.pixel(2, 1);
    EXPECT_TRUE(near(image.pixel(2, 300), 0x8f, 0xc1, 0xe8)) << std::hex << image.pixel(2, 300);
}

struct BrokenJpeg {
    const char* name;
    QByteArray (*make)(const QByteArray& good);
};

void PrintTo(const BrokenJpeg& broken, std::ostream* out) {
    *out << broken.name;
}

class JpegImageRefuses : public ::testing::TestWithParam<BrokenJpeg> {};

TEST_P(JpegImageRefuses, DamagedDataGivesNullImageWithoutAborting) {
    EXPECT_TRUE(app::decodeJpeg(GetParam().make(splashJpeg())).isNull());
}

// Rewrites the height and width of the baseline frame header (SOF0).
QByteArray withFrameSize(QByteArray jpeg, int side) {
    const qsizetype frame = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    EXPECT_GT(frame, 0);
    for (const qsizetype at : {frame + 5, frame + 7}) {
        jpeg[at] = static_cast<char>(side >> 8);
        jpeg[at + 1] = static_cast<char>(side & 0xFF);
    }
    return jpeg;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JpegImageRefuses,
    ::testing::Values(
        BrokenJpeg{"Empty", [](const QByteArray&) { return QByteArray(); }},
        BrokenJpeg{"NotAJpegAtAll",
                   [](const QByteArray&) { return QByteArray("GIF89a, not a picture of ours"); }},
        BrokenJpeg{"StartMarkerThenGarbage",
                   [](const QByteArray&) {
                       return QByteArray("\xFF\xD8\xFF\xE0\x00\x10garbage garbage garbage", 30);
                   }},
        BrokenJpeg{"TruncatedInsideHeaders", [](const QByteArray& good) { return good.left(120); }},
        BrokenJpeg{"TruncatedInsideScanData",
                   [](const QByteArray& good) { return good.left(good.size() / 2); }},
        BrokenJpeg{"ScanDataOverwritten",
                   [](const QByteArray& good) {
                       QByteArray bad = good;
                       const qsizetype scan = bad.indexOf(QByteArray("\xFF\xDA", 2));
                       for (qsizetype at = scan + 20; at < bad.size() - 2; at += 7)
                           bad[at] = static_cast<char>(0xFF);
                       return bad;
                   }},
        BrokenJpeg{"FrameTooLargeToAllocate",
                   [](const QByteArray& good) { return withFrameSize(good, 65000); }}),
    [](const ::testing::TestParamInfo<BrokenJpeg>& param) {
        return std::string(param.param.name);
    });

}  // namespace
