// The session log and the file sender on a real serial line: a pseudo-terminal of the kernel
// whose slave the serial component has open, with the master as the far end.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm.h"
#include "owner_loop.h"
#include "pseudo_terminal.h"
#include "traffic/file_sender.h"
#include "traffic/session_log.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string randomBytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& b : bytes) b = static_cast<char>(random() & 0xFF);
    return bytes;
}

std::string fileContents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class TrafficOverPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(pty.master, 0);
        char folder[] = "/tmp/quillmor-traffic-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        dir = folder;
        comm.SetDeviceName(pty.path);
        comm.SetFlowControl(comm::fcNone);
        comm.OnRxChar = [this](comm::TCustomComm* sender, int32_t count) {
            std::vector<char> buffer(static_cast<size_t>(count));
            const int32_t n = sender->Read(buffer.data(), count);
            if (n > 0) received += static_cast<size_t>(n);
        };
    }
    void TearDown() override {
        comm.Close();
        std::remove(file().c_str());
        ::rmdir(dir.c_str());
    }
    std::string file() const { return dir + "/traffic"; }

    commtest::PseudoTerminal pty;
    commtest::OwnerLoop loop;
    comm::TComm comm{loop.runOnOwner()};
    std::string dir;
    size_t received = 0;
};

TEST_F(TrafficOverPty, RawSessionLogOfAFiveMegabyteFeedEqualsTheFeedByteForByte) {
    const std::string feed = randomBytes(5 * 1024 * 1024, 24);
    comm.Open();
    traffic::SessionLog log(file(), traffic::SessionLog::Mode::Replace, comm.Traffic(),
                            std::make_unique<traffic::RawFormat>());
    // Something the program sends is no part of a raw log.
    ASSERT_EQ(comm.Write("sent", 4), 4);
    std::thread farEnd([&] { EXPECT_TRUE(pty.send(feed)); });
    const bool all =
        loop.pumpUntil([&] { return received >= feed.size(); }, std::chrono::seconds(60));
    farEnd.join();
    ASSERT_TRUE(all) << received << " of " << feed.size() << " bytes arrived";
    log.stop();
    EXPECT_EQ(log.failure(), 0);
    EXPECT_EQ(log.lost(), 0u);
    EXPECT_EQ(log.bytesWritten(), feed.size());
    const std::string logged = fileContents(file());
    ASSERT_EQ(logged.size(), feed.size());
    EXPECT_TRUE(logged == feed) << "the log differs from the feed";
}

// The far end stops the line with XOFF once the sending is under way, holds it for a second and
// lets it go with XON. The sender waits meanwhile (and says so) and goes on where it was.
TEST_F(TrafficOverPty, FileSentWhileTheFarEndHoldsTheLineByXoffArrivesWholeOnceInOrder) {
    const std::string contents = randomBytes(512 * 1024, 7);
    {
        std::ofstream out(file(), std::ios::binary);
        out << contents;
    }
    comm.SetFlowControl(comm::fcSoftware);
    comm.Open();

    std::string arrived;
    std::atomic<bool> held{false};
    std::atomic<bool> released{false};
    std::thread farEnd([&] {
        char buffer[65536];
        bool xoffSent = false;
        Clock::time_point heldSince;
        for (;;) {
            if (!xoffSent && arrived.size() >= 64 * 1024) {
                ASSERT_EQ(::write(pty.master, "\x13", 1), 1);
                xoffSent = true;
                heldSince = Clock::now();
                held = true;
            }
            if (held && !released && Clock::now() - heldSince >= std::chrono::seconds(1)) {
                ASSERT_EQ(::write(pty.master, "\x11", 1), 1);
                released = true;
            }
            pollfd p{pty.master, POLLIN, 0};
            if (::poll(&p, 1, 50) < 0) break;
            const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
            if (n > 0) arrived.append(buffer, static_cast<size_t>(n));
            if (arrived.size() >= contents.size()) break;
            if (released && n <= 0 && Clock::now() - heldSince > std::chrono::seconds(10)) break;
        }
    });

    traffic::FileSender sender(file(),
                               [this](const uint8_t* bytes, int32_t count, int32_t timeoutMs) {
                                   return comm.WritePart(bytes, count, timeoutMs);
                               },
                               {});
    bool sawWaiting = false;
    uint64_t sentWhileHeld = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!sender.finished() && Clock::now() < deadline) {
        const traffic::FileSender::Progress p = sender.progress();
        if (held && !released) {
            sawWaiting = sawWaiting || p.state == traffic::FileSender::State::Waiting;
            sentWhileHeld = p.sent;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    farEnd.join();
    const traffic::FileSender::Progress done = sender.progress();
    EXPECT_EQ(done.state, traffic::FileSender::State::Done) << done.failure;
    EXPECT_EQ(done.sent, contents.size());
    EXPECT_TRUE(sawWaiting) << "the progress never said the line was held";
    EXPECT_LT(sentWhileHeld, contents.size()) << "the hold did not stop the sending";
    ASSERT_EQ(arrived.size(), contents.size());
    EXPECT_TRUE(arrived == contents) << "bytes lost, doubled or out of order";
}

TEST_F(TrafficOverPty, FileThatCannotBeReadIsRefusedWithTheSystemsReason) {
    comm.Open();
    const auto writeNothing = [](const uint8_t*, int32_t, int32_t) { return 0; };
    for (const std::string& path : {dir + "/missing", dir}) {
        try {
            traffic::FileSender sender(path, writeNothing, {});
            ADD_FAILURE() << path << " was taken";
        } catch (const std::system_error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

}  // namespace
