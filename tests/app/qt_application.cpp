#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryFile>
#include <memory>

#include "app/event_loop.h"

namespace {

// One QApplication for the whole test program, made before the first test runs: off screen (as
// CTest chooses, and by default for a test program run by hand) on a screen of 1600 x 1000, on
// the event loop the program uses.
class QtApplication : public ::testing::Environment {
public:
    void SetUp() override {
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        if (platform.isEmpty() || platform == "offscreen") useOffscreenScreen();
        app::useQtEventLoop();
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    // The platform's own 800 x 600 screen is smaller than a user's and than the main window's
    // contents.
    void useOffscreenScreen() {
        ASSERT_TRUE(screenConfig_.open());
        screenConfig_.write(R"({"screens": [{"name": "Screen", "x": 0, "y": 0, "width": 1600,
            "height": 1000, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        screenConfig_.close();
        qputenv("QT_QPA_PLATFORM",
                "offscreen:configfile=" + screenConfig_.fileName().toLocal8Bit());
    }

    QTemporaryFile screenConfig_;
    int argc_ = 1;
    char name_[10] = "app_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const qtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplication);

}  // namespace
