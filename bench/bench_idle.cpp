// The whole program at rest, as a user leaves it: started as the program starts (splash,
// main window, viewer, about and driver windows) on the simulated PC, on a real X display (an
// Xvfb server this benchmark starts), with nothing changing on any port. After the splash has
// gone, the process's CPU time (all threads) is taken over 20 s of wall time, with the poll's
// tick rate over the same time, so a quiet figure cannot come from a poll that runs slow.
//
// Before it, on the same display, a child process measures the same way a bare window whose
// only work is the poll's own clock ticking with nothing done on its ticks
// (idle_floor_cpu_percent): what a window program woken a thousand times a second costs on this
// machine at all, so the program's own share can be told from the machine's price of the
// wake-ups.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/event_loop.h"
#include "app/main_window.h"
#include "app/start.h"
#include "monitor/register_monitor.h"
#include "platform/linux_driver_host.h"

namespace {

constexpr int kSettleMs = 7'000;  // past the splash's 5 s
constexpr int kFloorSettleMs = 2'000;
constexpr int kMeasureMs = 20'000;

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto secs = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
    return secs(usage.ru_utime) + secs(usage.ru_stime);
}

// An Xvfb server of its own on the first free display, ended with the benchmark.
class XvfbDisplay {
public:
    XvfbDisplay() {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 2);
            const std::string fd = std::to_string(ready[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1000x24",
                     "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(ready[1]);
        // The server writes the number and then a newline; closing the pipe before the
        // newline would end it.
        std::string number;
        char c;
        while (::read(ready[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(ready[0]);
        if (!number.empty()) name_ = ":" + number;
    }
    ~XvfbDisplay() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Counts the poll's ticks, waits settleMs for the program to settle, then takes the process's CPU
// time and tick rate over kMeasureMs and prints them under the names given.
int measure(monitor::PollTimer& poll, int settleMs, const char* cpuName, const char* ticksName) {
    long ticks = 0;
    QObject::connect(&poll, &monitor::PollTimer::timeout, [&] { ++ticks; });
    wait(settleMs);
    if (!poll.isActive()) {
        std::fprintf(stderr, "bench_idle: the poll is not running\n");
        return 1;
    }

    ticks = 0;
    QElapsedTimer wall;
    wall.start();
    const double cpuAtStart = processCpuSeconds();
    wait(kMeasureMs);
    const double cpu = processCpuSeconds() - cpuAtStart;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
    std::printf("BENCH %s %.2f %%\n", cpuName, 100.0 * cpu / elapsed);
    std::printf("BENCH %s %.0f ticks/s\n", ticksName, ticks / elapsed);
    std::fflush(stdout);
    return 0;
}

constexpr char kFloorVariable[] = "QUILLMOR_BENCH_IDLE_FLOOR";

int measureFloor(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.resize(800, 600);
    window.show();
    monitor::PollTimer poll(std::chrono::milliseconds(1), &window);
    poll.start();
    return measure(poll, kFloorSettleMs, "idle_floor_cpu_percent", "idle_floor_ticks_per_s");
}

void runFloorChild() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv(kFloorVariable, "1", 1);
        ::execl("/proc/self/exe", "bench_idle", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child > 0) ::waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kFloorVariable)) {
        app::useQtEventLoop();
        return measureFloor(argc, argv);
    }
    XvfbDisplay display;
    if (display.name().empty()) {
        std::fprintf(stderr, "bench_idle: no Xvfb display\n");
        return 1;
    }
    QTemporaryDir home;
    qputenv("DISPLAY", display.name().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    qputenv("QUILLMOR_PORTS", "sim");
    runFloorChild();

    app::useQtEventLoop();
    QApplication application(argc, argv);
    platform::LinuxDriverHost host(app::portBackendAtStart());
    const std::unique_ptr<app::Program> program = app::startProgram(host);
    return measure(*program->Form1->registerMonitor().timer(), kSettleMs, "idle_cpu_percent",
                   "idle_poll_ticks_per_s");
}
