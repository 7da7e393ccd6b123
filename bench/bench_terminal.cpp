// Reception on the terminal page: the running program (TForm1 over the simulated PC, its 1 ms
// poll in the event loop) with a pseudo-terminal's slave opened through the page, as a user
// types the path and clicks OPEN. A writer thread on the master sends numbered 64-byte lines
// at full speed for 10 s. Every line is checked as it reaches Memo2: the numbers must run on
// with none lost, none out of order and none corrupted, and after the drain the count must be
// what was sent. The poll's tick rate during reception is compared with an idle phase before
// it, with the port open.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/start.h"
#include "monitor/register_monitor.h"
#include "platform/linux_driver_host.h"
#include "program_environment.h"
#include "terminal/terminal_page.h"
#include "widgets/command.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIdleMs = 5'000;
constexpr auto kSendTime = std::chrono::seconds(10);
// After the writer stops: how long the program may go without a new line before what is
// missing counts as lost.
constexpr int kDrainQuietMs = 2'000;
constexpr int kDigits = 10;
constexpr int kTextLength = 62;
constexpr int kLineBytes = kTextLength + 2;
constexpr int kLinesPerWrite = 64;
// A write that makes no progress this long means the program stopped reading.
constexpr int kStuckWriteMs = 5'000;

// Line n: its number in ten digits, then letters that depend on n, so a byte taken from
// another line, dropped or doubled shows.
std::string lineText(unsigned long long n) {
    char digits[kDigits + 1];
    std::snprintf(digits, sizeof digits, "%0*llu", kDigits, n);
    std::string text(digits);
    for (int i = kDigits; i < kTextLength; ++i)
        text += static_cast<char>('A' + (n * 7 + static_cast<unsigned>(i)) % 26);
    return text;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Sends whole lines to the master until the sending time is over.
class Writer {
public:
    explicit Writer(int master) : master_(master) {}

    void start() {
        firstByte = Clock::now();
        thread_ = std::thread([this] { run(); });
    }
    void join() { thread_.join(); }

    std::atomic<bool> cancelled{false};
    std::atomic<bool> stopped{false};
    std::atomic<bool> failed{false};
    Clock::time_point firstByte;
    unsigned long long lines = 0;  // read once stopped

private:
    void run() {
        std::string chunk;
        const Clock::time_point end = firstByte + kSendTime;
        while (Clock::now() < end && !cancelled) {
            chunk.clear();
            for (int i = 0; i < kLinesPerWrite; ++i) chunk += lineText(lines + i) + "\r\n";
            if (!writeAll(chunk)) {
                failed = true;
                break;
            }
            lines += kLinesPerWrite;
        }
        stopped = true;
    }

    bool writeAll(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::fprintf(stderr, "bench_terminal: write to the master: %s\n",
                             std::strerror(errno));
                return false;
            }
            pollfd fd{master_, POLLOUT, 0};
            if (::poll(&fd, 1, kStuckWriteMs) == 0) {
                std::fprintf(stderr, "bench_terminal: the program read nothing for %d ms\n",
                             kStuckWriteMs);
                return false;
            }
        }
        return true;
    }

    const int master_;
    std::thread thread_;
};

// Checks Memo2's lines as the document gains them, each against the next number expected.
// The new lines are the blocks after the last one checked: every line's number makes it
// unique, so this holds however the memo shapes its edits and whatever oldest lines it drops.
class LineChecker {
public:
    explicit LineChecker(QTextDocument* document) : document_(document) {
        QObject::connect(document, &QTextDocument::contentsChange, [this](int, int, int added) {
            if (added > 0) take();
        });
    }

    // Called once nothing more can arrive: the memo must end with a line.
    void finish() {
        if (!corrupt && lines > 0 && document_->lastBlock().text().isEmpty()) {
            std::fprintf(stderr, "bench_terminal: Memo2 ends with an empty line\n");
            corrupt = true;
        }
    }

    unsigned long long lines = 0;
    bool corrupt = false;
    Clock::time_point lastLine;

private:
    void take() {
        if (corrupt) return;
        QTextBlock block = document_->lastBlock();
        // A line may be started as an empty block, its text coming with the next edit.
        if (block.text().isEmpty()) block = block.previous();
        const QString newestChecked = lines > 0 ? QString::fromStdString(lineText(lines - 1)) : "";
        std::vector<QString> fresh;
        for (; block.isValid(); block = block.previous()) {
            const QString text = block.text();
            if (lines > 0 && text == newestChecked) break;
            fresh.push_back(text);
        }
        if (fresh.empty()) return;
        lastLine = Clock::now();
        for (auto line = fresh.rbegin(); line != fresh.rend() && !corrupt; ++line) check(*line);
    }

    void check(const QString& line) {
        const std::string expected = lineText(lines);
        if (line.toStdString() != expected) {
            std::fprintf(stderr,
                         "bench_terminal: LOST OR CORRUPTED DATA: line %llu of Memo2 is \"%s\", "
                         "expected \"%s\"\n",
                         lines, qPrintable(line), expected.c_str());
            corrupt = true;
            return;
        }
        ++lines;
    }

    QTextDocument* document_;
};

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir settings;
    useBenchProgramEnvironment(settings);
    QApplication application(argc, argv);

    int master = -1, slave = -1;
    char slavePath[256] = {};
    if (::openpty(&master, &slave, slavePath, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "bench_terminal: openpty: %s\n", std::strerror(errno));
        return 1;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    platform::LinuxDriverHost host(app::portBackendAtStart());
    app::TForm1 form(host, [] { return std::vector<std::string>{}; });
    QTimer* poll = form.registerMonitor().timer();
    form.show();
    while (!poll->isActive()) QApplication::processEvents();
    // A refused opening would otherwise wait in a message box that nobody closes.
    bool commandFailed = false;
    widgets::setErrorHandler([&](std::exception_ptr error) {
        commandFailed = true;
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_terminal: command failed: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "bench_terminal: command failed\n");
        }
    });

    auto* memo2 = form.findChild<QPlainTextEdit*>(QStringLiteral("Memo2"));
    LineChecker checker(memo2->document());
    form.findChild<QComboBox*>(QStringLiteral("ComboBox2"))
        ->setEditText(QString::fromLocal8Bit(slavePath));
    form.findChild<QToolButton*>(QStringLiteral("SpeedButton1"))->click();
    // The bench's own slave descriptor only kept the line up until the program had it.
    ::close(slave);
    if (commandFailed || !form.terminalPage().Comm1().IsOpen()) {
        std::fprintf(stderr, "bench_terminal: %s did not open\n", slavePath);
        return 1;
    }

    long ticks = 0;
    QObject::connect(poll, &QTimer::timeout, [&] { ++ticks; });
    Writer writer(master);
    Clock::time_point phaseStart;
    double idleRate = 0, rxRate = 0;
    bool rxRateTaken = false;
    int quietMs = 0;
    unsigned long long linesSeen = 0;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (checker.corrupt) {
            writer.cancelled = true;
            application.quit();
            return;
        }
        // The reception's tick rate is taken at the end of the sending time, which may come a
        // little after the writer's last line has been shown.
        if (!writer.stopped || !rxRateTaken) return;
        if (checker.lines >= writer.lines) {
            application.quit();
            return;
        }
        quietMs = checker.lines == linesSeen ? quietMs + watch.interval() : 0;
        linesSeen = checker.lines;
        if (quietMs >= kDrainQuietMs) application.quit();
    });
    QTimer::singleShot(0, [&] {
        ticks = 0;
        phaseStart = Clock::now();
    });
    QTimer::singleShot(kIdleMs, [&] {
        idleRate = ticks / seconds(Clock::now() - phaseStart);
        ticks = 0;
        writer.start();
        phaseStart = writer.firstByte;
        watch.start();
        QTimer::singleShot(kSendTime, [&] {
            rxRate = ticks / seconds(Clock::now() - phaseStart);
            rxRateTaken = true;
        });
    });
    application.exec();
    writer.join();
    checker.finish();
    form.terminalPage().Close();
    ::close(master);

    if (writer.failed) return 1;
    if (checker.corrupt || checker.lines != writer.lines) {
        std::fprintf(stderr,
                     "bench_terminal: LOST DATA: %llu lines sent, %llu reached Memo2 in order\n",
                     writer.lines, checker.lines);
        return 1;
    }
    const double elapsed = seconds(checker.lastLine - writer.firstByte);
    std::printf("BENCH terminal_rx_mb_s %.3f MB/s\n",
                static_cast<double>(checker.lines) * kLineBytes / elapsed / 1e6);
    std::printf("BENCH terminal_rx_ticks_ratio %.3f ratio\n", rxRate / idleRate);
    return 0;
}
