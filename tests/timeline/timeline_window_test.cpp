// The timeline window on the main window's recording, with an hour of line changes and bytes
// put into the ring, at a screen of 1366 x 768: both ends of the zoom, the markers, the jump to
// a lane's next change, a save that cannot be made, and its settings.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "platform/linux_driver_host.h"
#include "terminal/terminal_page.h"
#include "timeline/recording.h"
#include "timeline/timeline_window.h"
#include "timeline/trace_view.h"

namespace {

constexpr int64_t kHourUs = 3'600'000'000;
constexpr int64_t kCtsPeriodUs = 10'000'000;  // CTS changes every 10 s
constexpr int kLabelWidth = 150;              // the trace view's name column
constexpr int kRulerHeight = 22;
constexpr int kLaneHeight = 24;

class TimelineWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        form =
            std::make_unique<app::TForm1>(simulatedPc, [] { return std::vector<std::string>{}; });
        recording = std::make_unique<timeline::Recording>(
            form->registerMonitor(), timeline::PortFeed{&form->terminalPage().Comm1(), {}, {}});
        timeline::Recorder& recorder = recording->recorder();
        start = recorder.startUs() + 1'000'000;
        for (int64_t t = 0; t <= kHourUs; t += kCtsPeriodUs)
            recorder.recordLevel(timeline::kPortCts, start + t, (t / kCtsPeriodUs) % 2 == 0);
        // A line of bytes in the middle of the hour, 1 ms apart.
        for (int i = 0; i < 10; ++i) {
            const comm::TrafficEntry byte{start + kHourUs / 2 + i * 1000, uint8_t('0' + i), 0};
            recorder.recordTraffic(&byte, 1);
        }
        window = std::make_unique<timeline::TimelineWindow>(*recording, "test");
        window->setLaneNames({"CTS", "RX", "MSR_CTS"});
        window->resize(1366, 700);
        window->show();
        QCoreApplication::processEvents();
    }

    timeline::TraceView& view() { return window->traceView(); }
    // Columns of a lane's row whose top and bottom level pixels are both drawn: the edges.
    int edgeColumns(int lane) {
        const QImage image = view().grab().toImage();
        const int top = kRulerHeight + lane * kLaneHeight;
        const QRgb background = view().palette().base().color().rgb();
        int edges = 0;
        for (int x = kLabelWidth; x < image.width(); ++x)
            if (image.pixel(x, top + 5) != background &&
                image.pixel(x, top + kLaneHeight - 5) != background &&
                image.pixel(x, top + kLaneHeight / 2) != background)
                ++edges;
        return edges;
    }
    int64_t recordingTime(int64_t fromStart) const {
        return start + fromStart - recording->recorder().startUs();
    }

    QTemporaryDir dir;
    platform::LinuxDriverHost simulatedPc{platform::LinuxDriverHostConfig{}};
    std::unique_ptr<app::TForm1> form;
    std::unique_ptr<timeline::Recording> recording;
    std::unique_ptr<timeline::TimelineWindow> window;
    int64_t start = 0;
};

TEST_F(TimelineWindowTest, AnHourOnOneScreenAndOneMicrosecondAcrossAHundredPixels) {
    view().setFollow(false);
    view().setView(recordingTime(0), static_cast<double>(kHourUs) / (view().traceWidth() - 1));
    // Every CTS change of the hour has a column of its own: 361 levels, 360 edges.
    EXPECT_EQ(edgeColumns(0), 360);

    // Zoomed all the way in, 3 us before the fifth byte: a microsecond is 100 pixels, and the
    // byte one tick 300 pixels in.
    const int64_t fifth = recordingTime(kHourUs / 2 + 4000);
    view().setView(fifth - 3, timeline::TraceView::kMinUsPerPixel / 10);
    EXPECT_DOUBLE_EQ(view().usPerPixel(), timeline::TraceView::kMinUsPerPixel);
    EXPECT_EQ(view().timeToX(fifth), kLabelWidth + 300);
    EXPECT_EQ(edgeColumns(1), 1);
}

TEST_F(TimelineWindowTest, MarkersMeasureAndTheNextChangeIsFoundAcrossTheHour) {
    view().setFollow(false);
    view().setView(recordingTime(0), 10'000);  // 10 ms a pixel
    QTest::mouseClick(&view(), Qt::LeftButton, {}, QPoint(kLabelWidth + 100, 40));
    QTest::mouseClick(&view(), Qt::RightButton, {}, QPoint(kLabelWidth + 350, 40));
    ASSERT_TRUE(view().marker(0) && view().marker(1));
    EXPECT_EQ(*view().marker(1) - *view().marker(0), 2'500'000);
    EXPECT_NE(window->findChild<QLabel*>("TimelineStatus")
                  ->text()
                  .indexOf(QStringLiteral("B-A: 2.500000 с")),
              -1)
        << window->findChild<QLabel*>("TimelineStatus")->text().toStdString();

    // On the CTS lane (selected by the click), N goes from change to change, P back.
    view().setCursorTime(recordingTime(kHourUs / 2 + 1));
    view().setFocus();
    QTest::keyClick(&view(), Qt::Key_N);
    EXPECT_EQ(view().cursorTime(), recordingTime(kHourUs / 2 + kCtsPeriodUs));
    const int x = view().timeToX(*view().cursorTime());
    EXPECT_TRUE(x >= kLabelWidth && x < view().width()) << "brought into view";
    QTest::keyClick(&view(), Qt::Key_P);
    QTest::keyClick(&view(), Qt::Key_P);
    EXPECT_EQ(view().cursorTime(), recordingTime(kHourUs / 2 - kCtsPeriodUs));
}

TEST_F(TimelineWindowTest, AFailedSaveSaysWhyAndLanesAndGeometryKeepToTheirGroup) {
    const QString missing = dir.filePath(QStringLiteral("no-such-folder/out.vcd"));
    EXPECT_FALSE(window->saveTo(missing, true).isEmpty());
    EXPECT_FALSE(QFile::exists(missing));
    const QString saved = dir.filePath(QStringLiteral("out.csv"));
    EXPECT_EQ(window->saveTo(saved, false), QString());
    QFile csv(saved);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readLine(), "time_us,lane,old,new\n");
    EXPECT_EQ(csv.readLine(), "0,CTS,,1\n");

    QSettings settings(dir.filePath(QStringLiteral("user.ini")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Speeker"), 1);
    settings.setValue(QStringLiteral("DataControl"), 0);
    settings.setValue(QStringLiteral("ModalShow"), 1);
    window->setLaneNames({"RX", "MSR_DCD", "no such lane", "TX"});
    window->saveSettings(settings);
    settings.sync();
    EXPECT_EQ(settings.allKeys(), QStringList({"DataControl", "ModalShow", "Speeker",
                                               "Timeline/geometry", "Timeline/lanes"}));
    EXPECT_EQ(settings.value(QStringLiteral("DataControl")).toInt(), 0);

    timeline::TimelineWindow again(*recording, "test");
    again.loadSettings(settings);
    EXPECT_EQ(again.laneNames(), (std::vector<std::string>{"RX", "MSR_DCD", "TX"}));
}

}  // namespace
