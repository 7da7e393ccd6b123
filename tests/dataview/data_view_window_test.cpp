// The data view window on a real serial line (a pseudo-terminal of the kernel) under Qt's
// off-screen platform. Entries the backends would put into the port's traffic stream (error
// marks that no pseudo-terminal can make) are put there by hand.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "comm/comm.h"
#include "dataview/data_view_window.h"
#include "dataview/traffic_text.h"
#include "dataview/traffic_view.h"
#include "pseudo_terminal.h"
#include "terminal/owner_thread.h"

namespace {

using comm::TrafficEntry;

class DataViewWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(pty.master, 0);
        comm.SetDeviceName(pty.path);
        comm.SetFlowControl(comm::fcNone);
        comm.Open();
        window.setMessenger([this](const QString& text) { messages << text; });
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void TearDown() override { comm.Close(); }

    // What the far end got within a short while.
    std::string farEndReceived() const {
        std::string got;
        char buffer[4096];
        for (pollfd p{pty.master, POLLIN, 0}; ::poll(&p, 1, 200) > 0;) {
            const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    commtest::PseudoTerminal pty;
    comm::TComm comm{terminal::makeRunOnOwner()};
    dataview::DataViewWindow window{comm, widgets::MainMenu{}};
    QStringList messages;
};

TEST_F(DataViewWindowTest, ErrorBytesAndMarksAreMarkedInPlaceAndAWrongHexEntrySendsNothing) {
    const TrafficEntry received[] = {
        {1, 'A', 0},
        {2, 'T', comm::kTrafficParityError},
        {3, 0, comm::kTrafficBreak},
        {4, '\r', 0},
        {5, '\n', comm::kTrafficFramingError},
        {6, 0, comm::kTrafficParityError | comm::kTrafficUnplaced},
    };
    comm.Traffic()->append(received, std::size(received));
    window.tick();
    dataview::TrafficView& view = window.view();
    ASSERT_EQ(view.rows().rowCount(), 1u);
    EXPECT_EQ(dataview::text::rowLine(view.rows(), 0, dataview::TimeStampKind::None),
              QStringLiteral("RX 41 54p BRK 0D 0Af par | AT\u25C6\u2190\u2193\u25C6"));
    view.select(view.rows().firstKept(), view.rows().end() - 1);
    EXPECT_EQ(view.selectedHex(), QStringLiteral("41 54p BRK 0D 0Af par"));
    EXPECT_EQ(view.selectedText(), QStringLiteral("AT\r\n"));
    // The marks are painted on their cells, not only worded.
    view.select(0, 0);
    const QImage shown = view.viewport()->grab().toImage();
    int errorPixels = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            errorPixels += shown.pixelColor(x, y) == QColor(255, 205, 205);
    EXPECT_GT(errorPixels, 0);

    auto* hexEdit = window.findChild<QLineEdit*>(QStringLiteral("hexEdit"));
    auto* send = window.findChild<QPushButton*>(QStringLiteral("sendHex"));
    ASSERT_TRUE(hexEdit && send);
    hexEdit->setText(QStringLiteral("41 5G 0D"));
    QTest::mouseClick(send, Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("«G»"))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("позиции 5"))) << messages[0].toStdString();
    hexEdit->setText(QStringLiteral("4154 0"));
    QTest::mouseClick(send, Qt::LeftButton);
    EXPECT_EQ(messages.size(), 2);
    EXPECT_EQ(farEndReceived(), "");

    hexEdit->setText(QStringLiteral("41540d0A"));
    QTest::mouseClick(send, Qt::LeftButton);
    EXPECT_EQ(messages.size(), 2);
    EXPECT_EQ(farEndReceived(), "AT\r\n");
    window.tick();
    const size_t last = view.rows().rowCount() - 1;
    EXPECT_EQ(dataview::text::rowLine(view.rows(), last, dataview::TimeStampKind::None),
              QStringLiteral("TX 41 54 0D 0A | AT\u2190\u2193"));
}

// A tmpfs of 64 KiB fills up under the log; where mounting is not allowed, a file size limit
// makes the write fail the same way, after a part of it went in.
class FullDisk {
public:
    FullDisk() {
        char folder[] = "/tmp/quillmor-full-XXXXXX";
        if (!::mkdtemp(folder)) return;
        dir_ = folder;
        mounted_ = ::mount("tmpfs", folder, "tmpfs", 0, "size=64k") == 0;
        if (mounted_) {
            error_ = ENOSPC;
            return;
        }
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = 64 * 1024;
        limited_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
        error_ = EFBIG;
    }
    ~FullDisk() {
        std::remove(path().c_str());
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
        if (limited_) ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::rmdir(dir_.c_str());
    }
    bool ready() const { return mounted_ || limited_; }
    std::string path() const { return dir_ + "/session.log"; }
    int error() const { return error_; }

private:
    std::string dir_;
    bool mounted_ = false;
    bool limited_ = false;
    rlimit saved_{};
    int error_ = 0;
};

TEST_F(DataViewWindowTest, LogOnAFullDiskStopsWithTheFileAndTheReasonAndKeepsWhatWasWritten) {
    FullDisk disk;
    ASSERT_TRUE(disk.ready());
    window.startLog(QString::fromStdString(disk.path()));
    ASSERT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
    std::string fed;
    for (int i = 0; fed.size() < 256 * 1024; ++i) fed += "line " + std::to_string(i) + "\r\n";
    comm.Traffic()->appendBytes(reinterpret_cast<const uint8_t*>(fed.data()), fed.size(), 0);
    for (int i = 0; i < 200 && messages.isEmpty(); ++i) {
        QTest::qWait(10);
        window.tick();
    }
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QString::fromStdString(disk.path())))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QString::fromLocal8Bit(std::strerror(disk.error()))))
        << messages[0].toStdString();
    std::ifstream file(disk.path(), std::ios::binary);
    const std::string kept{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), fed.size());
    EXPECT_EQ(kept, fed.substr(0, kept.size()));
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_EQ(window.findChild<QPushButton*>(QStringLiteral("logButton"))->text(),
              QStringLiteral("Начать журнал..."));
}

}  // namespace
