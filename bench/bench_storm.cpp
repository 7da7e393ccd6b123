// A register storm: the running program (TForm1 with its real 1 ms poll in the event loop) on
// a port host whose registers +0 to +6 of COM1 all change on every tick, so every tick writes
// seven change records. Compared with the same program over the same host standing still, and
// with the resident memory watched while the panes run full and drop their oldest lines.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "app/event_loop.h"
#include "app/main_window.h"
#include "monitor/register_monitor.h"
#include "program_environment.h"
#include "storm_host.h"

namespace {

constexpr int kIdleMs = 5'000;
constexpr int kStormMs = 60'000;
constexpr int kRssFromMs = 10'000;

double residentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ')[0].toDouble() / 1024;
    return 0;
}

// The records written so far: the change counters kept in the bit-string boxes.
qlonglong records(const app::TForm1& form) {
    qlonglong sum = 0;
    for (const char* box : {"Edit11", "Edit12", "Edit21", "Edit22", "Edit39", "Edit40", "Edit41"})
        sum += form.findChild<QLineEdit*>(QString::fromUtf8(box))->property("Tag").toLongLong();
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir settings;
    useBenchProgramEnvironment(settings);
    app::useQtEventLoop();
    QApplication application(argc, argv);
    StormHost host;
    app::TForm1 form(host, [] { return std::vector<std::string>{}; });
    monitor::PollTimer* poll = form.registerMonitor().timer();
    bool storming = false;
    long ticks = 0;
    // Connected after the monitor, so the counter moves between ticks, never inside one.
    QObject::connect(poll, &monitor::PollTimer::timeout, [&] {
        ++ticks;
        if (storming) ++host.generation;
    });
    form.show();
    while (!poll->isActive()) QApplication::processEvents();

    QElapsedTimer clock;
    double idleRate = 0, stormRate = 0, recordRate = 0, rssAtStart = 0, rssGrowth = 0;
    qlonglong recordsBefore = 0;
    QTimer::singleShot(0, [&] {
        ticks = 0;
        clock.start();
    });
    QTimer::singleShot(kIdleMs, [&] {
        idleRate = ticks / (clock.nsecsElapsed() * 1e-9);
        recordsBefore = records(form);
        storming = true;
        ticks = 0;
        clock.restart();
    });
    QTimer::singleShot(kIdleMs + kRssFromMs, [&] { rssAtStart = residentMb(); });
    QTimer::singleShot(kIdleMs + kStormMs, [&] {
        const double seconds = clock.nsecsElapsed() * 1e-9;
        stormRate = ticks / seconds;
        recordRate = (records(form) - recordsBefore) / seconds;
        rssGrowth = residentMb() - rssAtStart;
        application.quit();
    });
    application.exec();
    poll->stop();

    std::printf("BENCH storm_ticks_per_s %.0f ticks/s\n", stormRate);
    std::printf("BENCH storm_idle_ticks_per_s %.0f ticks/s\n", idleRate);
    std::printf("BENCH storm_records_per_s %.0f records/s\n", recordRate);
    std::printf("BENCH storm_rss_growth_mb %.2f MB\n", rssGrowth);
    return 0;
}
