// Reception on the terminal page against picocom, on the same feeds in one run. The running
// program (TForm1 over the simulated PC, its 1 ms poll in the event loop) has a pseudo-
// terminal's slave opened through the page, as a user types the path and clicks OPEN. Two
// feeds, each sent at full speed for 10 s by a writer thread on a master end: short lines
// ("%08d" CR LF, 10 bytes) and 64-byte lines. Each feed goes to picocom first, then to the
// page. Every line is checked in order as picocom shows it and as it reaches Memo2: none lost,
// none out of order, none corrupted, and after the drain the count must be what was sent. The
// poll's tick rate during each reception is compared with an idle phase before them, with the
// port open.
//
// Then the long lines again with the data view open and showing (dataview_rx_mb_s, and the
// program's memory once the view holds all it keeps), with a raw session log written beside the
// page (session_log_mb_s, the log checked line by line against the feed), and a file sent
// through the page's port (send_file_mb_s) beside `cat FILE > pty` into the same pty and reader
// (cat_to_pty_mb_s), every byte checked.
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/event_loop.h"
#include "app/main_window.h"
#include "app/start.h"
#include "dataview/data_view_window.h"
#include "dataview/traffic_view.h"
#include "monitor/register_monitor.h"
#include "picocom.h"
#include "platform/linux_driver_host.h"
#include "program_environment.h"
#include "pseudo_terminal.h"
#include "terminal/terminal_page.h"
#include "traffic/file_sender.h"
#include "traffic/session_log.h"
#include "widgets/command.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIdleMs = 5'000;
constexpr auto kSendTime = std::chrono::seconds(10);
// After the writer stops: how long a receiver may go without a new line before what is
// missing counts as lost.
constexpr int kDrainQuietMs = 2'000;
constexpr size_t kWriteBytes = 4096;
// A write that makes no progress this long means the receiver stopped reading.
constexpr int kStuckWriteMs = 5'000;

// The lines of a feed. Line n starts with its number, so a line dropped, doubled or taken out
// of order shows; the long lines go on with letters that depend on n, so a byte taken from
// another line shows too.
struct Feed {
    const char* name;  // the figures' infix
    int digits;
    int textLength;

    int lineBytes() const { return textLength + 2; }
    // Line n's text into out, textLength characters; cheap, as the checks run beside the
    // receiver measured.
    void text(unsigned long long n, char* out) const {
        unsigned long long rest = n;
        for (int i = digits - 1; i >= 0; --i, rest /= 10)
            out[i] = static_cast<char>('0' + rest % 10);
        for (int i = digits; i < textLength; ++i)
            out[i] = static_cast<char>('A' + (n * 7 + static_cast<unsigned>(i)) % 26);
    }
};

constexpr Feed kShortLines{"_short", 8, 8};
constexpr Feed kLongLines{"", 10, 62};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Sends whole lines to a master end until the sending time is over.
class Writer {
public:
    Writer(int master, const Feed& feed) : master_(master), feed_(feed) {}
    ~Writer() {
        cancelled = true;
        if (thread_.joinable()) thread_.join();
    }

    void start() {
        firstByte = Clock::now();
        thread_ = std::thread([this] { run(); });
    }
    void join() { thread_.join(); }

    std::atomic<bool> cancelled{false};
    std::atomic<bool> stopped{false};
    std::atomic<bool> failed{false};
    Clock::time_point firstByte;
    std::atomic<unsigned long long> lines{0};

private:
    void run() {
        const size_t linesPerWrite = kWriteBytes / static_cast<size_t>(feed_.lineBytes());
        const size_t lineBytes = static_cast<size_t>(feed_.lineBytes());
        std::string chunk(linesPerWrite * lineBytes, '\n');
        const Clock::time_point end = firstByte + kSendTime;
        while (Clock::now() < end && !cancelled) {
            for (size_t i = 0; i < linesPerWrite; ++i) {
                feed_.text(lines + i, &chunk[i * lineBytes]);
                chunk[(i + 1) * lineBytes - 2] = '\r';
            }
            if (!writeAll(chunk)) {
                failed = true;
                break;
            }
            lines += linesPerWrite;
        }
        stopped = true;
    }

    bool writeAll(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size() && !cancelled) {
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
                std::fprintf(stderr, "bench_terminal: nothing was read for %d ms\n", kStuckWriteMs);
                return false;
            }
        }
        return true;
    }

    const int master_;
    const Feed& feed_;
    std::thread thread_;
};

// The lines of a feed as a receiver shows them, each checked against the next one expected.
class LineSequence {
public:
    LineSequence(const char* receiver, const Feed& feed)
        : receiver_(receiver), feed_(feed), expected_(static_cast<size_t>(feed.textLength), ' ') {
        feed_.text(0, expected_.data());
    }

    void take(const QString& line) {
        if (!corrupt && !matches(line)) fail(line);
    }
    void take(std::string_view line) {
        if (!corrupt && !matches(line))
            fail(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    }

    double mbPerS(const Writer& writer) const {
        return static_cast<double>(lines) * feed_.lineBytes() /
               seconds(lastLine - writer.firstByte) / 1e6;
    }
    // Called once nothing more can arrive.
    bool complete(const Writer& writer) const {
        if (corrupt || lines == writer.lines) return !corrupt;
        std::fprintf(stderr, "bench_terminal: LOST DATA: %llu lines sent, %llu shown by %s\n",
                     writer.lines.load(), lines, receiver_);
        return false;
    }
    // The text of line n.
    QString line(unsigned long long n) const {
        std::string text(static_cast<size_t>(feed_.textLength), ' ');
        feed_.text(n, text.data());
        return QString::fromLatin1(text);
    }

    unsigned long long lines = 0;
    bool corrupt = false;
    // Set by the receiver after each batch of lines it takes.
    Clock::time_point lastLine;

private:
    template <class Text>
    bool matches(const Text& line) {
        if (static_cast<size_t>(line.size()) != expected_.size()) return false;
        for (size_t i = 0; i < expected_.size(); ++i)
            if (line[static_cast<qsizetype>(i)] != expected_[i]) return false;
        feed_.text(++lines, expected_.data());
        return true;
    }
    void fail(const QString& shown) {
        std::fprintf(stderr,
                     "bench_terminal: LOST OR CORRUPTED DATA: line %llu of %s is \"%s\", "
                     "expected \"%s\"\n",
                     lines, receiver_, qPrintable(shown), expected_.c_str());
        corrupt = true;
    }

    const char* receiver_;
    const Feed& feed_;
    std::string expected_;
};

// Checks every line Memo2 is given, in order, as it is given; once the reception is over,
// the memo must show the newest of them, as many as it holds, in order.
class MemoChecker {
public:
    MemoChecker(terminal::TerminalMemo* memo, LineSequence& sequence)
        : memo_(memo), sequence_(sequence) {
        connection_ = QObject::connect(memo, &terminal::TerminalMemo::linesAppended,
                                       [this](const QStringList& lines) {
                                           for (const QString& line : lines) sequence_.take(line);
                                           sequence_.lastLine = Clock::now();
                                       });
    }
    ~MemoChecker() { QObject::disconnect(connection_); }

    void finish() {
        if (sequence_.corrupt || sequence_.lines == 0) return;
        const QStringList shown = memo_->lines();
        const auto count =
            std::min<unsigned long long>(sequence_.lines, terminal::kReceivedMemoLines);
        const unsigned long long first = sequence_.lines - count;
        bool same = static_cast<unsigned long long>(shown.size()) >= count;
        for (unsigned long long i = 0; same && i < count; ++i)
            same = shown[shown.size() - static_cast<qsizetype>(count - i)] ==
                   sequence_.line(first + i);
        if (!same) {
            std::fprintf(stderr, "bench_terminal: Memo2 does not end with the newest lines\n");
            sequence_.corrupt = true;
        }
    }

private:
    terminal::TerminalMemo* memo_;
    LineSequence& sequence_;
    QMetaObject::Connection connection_;
};

// picocom on a pty of its own, the feed at full speed; its output is read and checked here,
// with the program's event loop standing still meanwhile.
bool picocomReception(const Feed& feed, double& mbPerS) {
    commtest::PseudoTerminal pty;
    Picocom picocom(pty.path, pty.master);
    if (picocom.output() < 0) return false;
    LineSequence sequence("picocom", feed);
    Writer writer(pty.master, feed);
    std::string pending;
    char buf[65536];
    pollfd p{picocom.output(), POLLIN, 0};
    writer.start();
    while (!sequence.corrupt && !(writer.stopped && sequence.lines >= writer.lines) &&
           ::poll(&p, 1, kDrainQuietMs) > 0) {
        const ssize_t n = ::read(picocom.output(), buf, sizeof buf);
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        size_t from = 0;
        for (size_t end; (end = pending.find("\r\n", from)) != std::string::npos; from = end + 2)
            sequence.take(std::string_view(pending).substr(from, end - from));
        sequence.lastLine = Clock::now();
        pending.erase(0, from);
    }
    writer.cancelled = true;
    writer.join();
    mbPerS = sequence.mbPerS(writer);
    return !writer.failed && sequence.complete(writer);
}

struct TerminalFigures {
    double mbPerS = 0;
    double ticksRatio = 0;
    unsigned long long lines = 0;
    Clock::time_point firstByte;
    // Processor time of the program's main thread (the window, the poll, the page and the data
    // view) per megabyte received: unlike the rates, it hardly changes with the machine's load.
    double mainCpuMsPerMb = 0;
};

double threadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The feed into the page's open port; the poll's ticks are counted in ticks.
bool terminalReception(const Feed& feed, int master, terminal::TerminalMemo* memo2,
                       const long& ticks, double idleRate, TerminalFigures& figures) {
    LineSequence sequence("Memo2", feed);
    MemoChecker checker(memo2, sequence);
    Writer writer(master, feed);
    QEventLoop loop;
    long ticksAtStart = ticks;
    bool rxRateTaken = false;
    int quietMs = 0;
    unsigned long long linesSeen = 0;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (sequence.corrupt) {
            writer.cancelled = true;
            loop.quit();
            return;
        }
        // The reception's tick rate is taken at the end of the sending time, which may come a
        // little after the writer's last line has been shown.
        if (!writer.stopped || !rxRateTaken) return;
        if (sequence.lines >= writer.lines) {
            loop.quit();
            return;
        }
        quietMs = sequence.lines == linesSeen ? quietMs + watch.interval() : 0;
        linesSeen = sequence.lines;
        if (quietMs >= kDrainQuietMs) loop.quit();
    });
    const double cpuAtStart = threadCpuMs();
    writer.start();
    ticksAtStart = ticks;
    watch.start();
    QTimer::singleShot(kSendTime, [&] {
        figures.ticksRatio =
            (ticks - ticksAtStart) / seconds(Clock::now() - writer.firstByte) / idleRate;
        rxRateTaken = true;
    });
    loop.exec();
    writer.join();
    checker.finish();
    figures.mbPerS = sequence.mbPerS(writer);
    figures.mainCpuMsPerMb = (threadCpuMs() - cpuAtStart) /
                             (static_cast<double>(sequence.lines) * feed.lineBytes() / 1e6);
    figures.lines = writer.lines;
    figures.firstByte = writer.firstByte;
    return !writer.failed && sequence.complete(writer);
}

// The program's resident memory, in megabytes.
double residentMb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// The raw session log of a feed: its lines, in order, each checked as the feed made it, all of
// them and nothing else.
bool logHoldsTheFeed(const std::string& path, const Feed& feed, unsigned long long lines) {
    LineSequence sequence("the session log", feed);
    std::ifstream file(path, std::ios::binary);
    std::string pending;
    char buf[65536];
    while (file.read(buf, sizeof buf) || file.gcount() > 0) {
        pending.append(buf, static_cast<size_t>(file.gcount()));
        size_t from = 0;
        for (size_t end; (end = pending.find("\r\n", from)) != std::string::npos; from = end + 2)
            sequence.take(std::string_view(pending).substr(from, end - from));
        pending.erase(0, from);
    }
    if (!sequence.corrupt && pending.empty() && sequence.lines == lines) return true;
    std::fprintf(stderr, "bench_terminal: LOST DATA: %llu lines sent, %llu in the session log\n",
                 lines, sequence.lines);
    return false;
}

// What comes out of a master end, checked byte by byte against what was sent; the time of the
// last byte, or nothing when a byte differs or nothing more came for a while.
class CheckedReader {
public:
    CheckedReader(int master, const std::string& expected) : master_(master), expected_(expected) {}

    bool run(Clock::time_point& lastByte) {
        size_t got = 0;
        std::vector<char> buf(1 << 16);
        pollfd p{master_, POLLIN, 0};
        while (got < expected_.size() && ::poll(&p, 1, kDrainQuietMs) > 0) {
            const ssize_t n = ::read(master_, buf.data(), buf.size());
            if (n <= 0) continue;
            const size_t size = static_cast<size_t>(n);
            if (got + size > expected_.size() ||
                std::memcmp(buf.data(), expected_.data() + got, size) != 0) {
                std::fprintf(stderr, "bench_terminal: SENT DATA CORRUPTED after byte %zu\n", got);
                return false;
            }
            got += size;
            lastByte = Clock::now();
        }
        if (got == expected_.size()) return true;
        std::fprintf(stderr, "bench_terminal: LOST DATA: %zu of %zu bytes arrived\n", got,
                     expected_.size());
        return false;
    }

private:
    int master_;
    const std::string& expected_;
};

// A file through the page's port by the file sender, and by cat into the same pty's slave;
// the same reader takes both at the master.
bool sendFileFigures(comm::TCustomComm& comm, const std::string& slavePath, int master,
                     double& sendMbPerS, double& catMbPerS) {
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("file.bin")).toStdString();
    std::string contents(32u << 20, '\0');
    std::mt19937 random(5);
    for (char& c : contents) c = static_cast<char>(random());
    {
        std::ofstream out(path, std::ios::binary);
        out << contents;
    }
    const double megabytes = static_cast<double>(contents.size()) / 1e6;
    CheckedReader reader(master, contents);
    Clock::time_point lastByte;

    const Clock::time_point catStart = Clock::now();
    std::thread cat([&] {
        const std::string command = "cat '" + path + "' > '" + slavePath + "'";
        if (std::system(command.c_str()) != 0) std::fprintf(stderr, "bench_terminal: cat failed\n");
    });
    const bool catWhole = reader.run(lastByte);
    cat.join();
    if (!catWhole) return false;
    catMbPerS = megabytes / seconds(lastByte - catStart);

    const Clock::time_point sendStart = Clock::now();
    traffic::FileSender sender(path,
                               [&comm](const uint8_t* bytes, int32_t count, int32_t timeoutMs) {
                                   return comm.WritePart(bytes, count, timeoutMs);
                               },
                               {});
    const bool sentWhole = reader.run(lastByte);
    sender.cancel();
    if (!sentWhole || sender.progress().state != traffic::FileSender::State::Done) return false;
    sendMbPerS = megabytes / seconds(lastByte - sendStart);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir settings;
    useBenchProgramEnvironment(settings);
    app::useQtEventLoop();
    QApplication application(argc, argv);

    commtest::PseudoTerminal pty;
    platform::LinuxDriverHost host(app::portBackendAtStart());
    app::TForm1 form(host, [] { return std::vector<std::string>{}; });
    monitor::PollTimer* poll = form.registerMonitor().timer();
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

    auto* memo2 = form.findChild<terminal::TerminalMemo*>(QStringLiteral("Memo2"));
    form.findChild<QComboBox*>(QStringLiteral("ComboBox2"))
        ->setEditText(QString::fromStdString(pty.path));
    form.findChild<QToolButton*>(QStringLiteral("SpeedButton1"))->click();
    // The bench's own slave descriptor only kept the line up until the program had it.
    ::close(std::exchange(pty.slave, -1));
    if (commandFailed || !form.terminalPage().Comm1().IsOpen()) {
        std::fprintf(stderr, "bench_terminal: %s did not open\n", pty.path.c_str());
        return 1;
    }

    long ticks = 0;
    QObject::connect(poll, &monitor::PollTimer::timeout, [&] { ++ticks; });
    QEventLoop idle;
    QTimer::singleShot(kIdleMs, &idle, &QEventLoop::quit);
    const Clock::time_point idleStart = Clock::now();
    idle.exec();
    const double idleRate = ticks / seconds(Clock::now() - idleStart);

    double picocomLongMbPerS = 0;
    for (const Feed& feed : {kShortLines, kLongLines}) {
        double picocomMbPerS = 0;
        TerminalFigures terminal;
        if (!picocomReception(feed, picocomMbPerS) ||
            !terminalReception(feed, pty.master, memo2, ticks, idleRate, terminal))
            return 1;
        std::printf("BENCH picocom_rx%s_mb_s %.3f MB/s\n", feed.name, picocomMbPerS);
        std::printf("BENCH terminal_rx%s_mb_s %.3f MB/s\n", feed.name, terminal.mbPerS);
        std::printf("BENCH terminal_rx%s_vs_picocom %.2f ratio\n", feed.name,
                    terminal.mbPerS / picocomMbPerS);
        std::printf("BENCH terminal_rx%s_ticks_ratio %.3f ratio\n", feed.name, terminal.ticksRatio);
        std::printf("BENCH terminal_rx%s_main_cpu_ms_per_mb %.2f ms\n", feed.name,
                    terminal.mainCpuMsPerMb);
        std::fflush(stdout);
        picocomLongMbPerS = picocomMbPerS;
    }

    comm::TComm& comm = form.terminalPage().Comm1();
    {
        dataview::DataViewWindow dataView(comm, form.menu());
        dataView.show();
        const traffic::TrafficRows& rows = dataView.view().rows();
        // Entries of the stream that never reached the view: the ones before it opened that
        // the stream no longer held, and any it fell too far behind to take.
        const auto unseen = [&] {
            for (int i = 0; i < 4; ++i) dataView.tick();
            return comm.Traffic()->end() - rows.end();
        };
        const uint64_t unseenBefore = unseen();
        TerminalFigures shown;
        if (!terminalReception(kLongLines, pty.master, memo2, ticks, idleRate, shown)) return 1;
        const uint64_t lost = unseen() - unseenBefore;
        std::printf("BENCH dataview_rx_mb_s %.3f MB/s\n", shown.mbPerS);
        std::printf("BENCH dataview_rx_vs_picocom %.2f ratio\n", shown.mbPerS / picocomLongMbPerS);
        std::printf("BENCH dataview_rx_ticks_ratio %.3f ratio\n", shown.ticksRatio);
        std::printf("BENCH dataview_rx_main_cpu_ms_per_mb %.2f ms\n", shown.mainCpuMsPerMb);
        std::printf("BENCH dataview_rss_mb %.1f MB\n", residentMb());
        std::printf("BENCH dataview_kept_entries %llu entries\n",
                    static_cast<unsigned long long>(rows.end() - rows.firstKept()));
        std::printf("BENCH dataview_lost_entries %llu entries\n",
                    static_cast<unsigned long long>(lost));
        std::fflush(stdout);
    }

    {
        QTemporaryDir folder;
        const std::string path = folder.filePath(QStringLiteral("session.log")).toStdString();
        traffic::SessionLog log(path, traffic::SessionLog::Mode::Replace, comm.Traffic(),
                                std::make_unique<traffic::RawFormat>());
        // The moment the log's file last grew, looked at every millisecond.
        std::atomic<bool> watching{true};
        Clock::time_point lastWrite;
        std::thread watcher([&] {
            for (uint64_t seen = 0; watching;
                 std::this_thread::sleep_for(std::chrono::milliseconds(1)))
                if (const uint64_t now = log.bytesWritten(); now != seen) {
                    seen = now;
                    lastWrite = Clock::now();
                }
        });
        TerminalFigures logged;
        const bool received =
            terminalReception(kLongLines, pty.master, memo2, ticks, idleRate, logged);
        log.stop();
        watching = false;
        watcher.join();
        if (!received) return 1;
        if (log.failure() || log.lost()) {
            std::fprintf(stderr, "bench_terminal: the session log failed or lost %llu entries\n",
                         static_cast<unsigned long long>(log.lost()));
            return 1;
        }
        if (!logHoldsTheFeed(path, kLongLines, logged.lines)) return 1;
        std::printf(
            "BENCH session_log_mb_s %.3f MB/s\n",
            static_cast<double>(log.bytesWritten()) / seconds(lastWrite - logged.firstByte) / 1e6);
        std::fflush(stdout);
    }

    double sendMbPerS = 0;
    double catMbPerS = 0;
    if (!sendFileFigures(comm, pty.path, pty.master, sendMbPerS, catMbPerS)) return 1;
    std::printf("BENCH cat_to_pty_mb_s %.3f MB/s\n", catMbPerS);
    std::printf("BENCH send_file_mb_s %.3f MB/s\n", sendMbPerS);
    std::printf("BENCH send_file_vs_cat %.2f ratio\n", sendMbPerS / catMbPerS);
    form.terminalPage().Close();
    return 0;
}
