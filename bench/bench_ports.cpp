// The list of the machine's ports at rest and in motion.
//
// ports_idle_cpu_percent: the process's CPU time over 10 s of wall time while the program's
// port watcher (udev's events and inotify on /dev) and a chooser that follows it wait on the
// real machine with nothing plugged or pulled; beside idle_cpu_percent of the whole program.
// port_appear_ms: from an adapter's appearance (its by-id link made, in a /dev of this
// benchmark's own, the way udev makes it) to the watcher's list holding it; median of 20.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "ports/port_chooser.h"
#include "ports/port_watcher.h"
#include "pseudo_terminal.h"

namespace {

constexpr int kIdleMs = 10'000;
constexpr int kAppearances = 20;

double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto secs = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
    return secs(usage.ru_utime) + secs(usage.ru_stime);
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double idleCpuPercent() {
    ports::PortWatcher watcher;
    ports::PortChooser chooser(
        watcher, [](const platform::PortInfo&) { return true; }, [](const platform::PortInfo&) {},
        nullptr);
    runFor(500);
    const double cpu0 = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(kIdleMs);
    return 100.0 * (processCpuSeconds() - cpu0) / (static_cast<double>(wall.elapsed()) / 1000.0);
}

double appearMedianMs() {
    QTemporaryDir dev;
    namespace fs = std::filesystem;
    const fs::path byId = fs::path(dev.path().toStdString()) / "serial" / "by-id";
    fs::create_directories(byId);
    ports::PortWatcher watcher({dev.path().toStdString(), false});
    std::vector<double> times;
    for (int i = 0; i < kAppearances; ++i) {
        commtest::PseudoTerminal line;
        const fs::path link = byId / ("usb-Bench_Adapter_" + std::to_string(i) + "-if00-port0");
        QElapsedTimer since;
        since.start();
        fs::create_symlink(line.path, link);
        while (!platform::findPort(watcher.ports(), link.string()) && since.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        times.push_back(static_cast<double>(since.nsecsElapsed()) / 1e6);
        fs::remove(link);
        runFor(20);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("BENCH port_appear_ms %.2f ms\n", appearMedianMs());
    std::printf("BENCH ports_idle_cpu_percent %.3f %%\n", idleCpuPercent());
    return 0;
}
