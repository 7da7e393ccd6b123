// The register poll on the simulated PC with COM1 shown and nothing changing: the cost of one
// tick called directly, then the program's real 1 ms poll in its event loop over 10 s, and after it
// a bare 1 ms precise Qt timer over 10 s, so the two rates can be compared.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "app/event_loop.h"
#include "app/main_window.h"
#include "app/start.h"
#include "monitor/register_monitor.h"
#include "platform/linux_driver_host.h"
#include "program_environment.h"

int main(int argc, char** argv) {
    QTemporaryDir settings;
    useBenchProgramEnvironment(settings);
    app::useQtEventLoop();
    QApplication application(argc, argv);
    platform::LinuxDriverHost host(app::portBackendAtStart());
    app::TForm1 form(host, [] { return std::vector<std::string>{}; });
    form.show();
    QApplication::processEvents();
    monitor::RegisterMonitor& monitor = form.registerMonitor();
    monitor.GCP();
    monitor.timer()->stop();

    constexpr int kTicks = 20'000;
    for (int i = 0; i < 1'000; ++i) monitor.Timer1Timer();  // settle the views
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kTicks; ++i) monitor.Timer1Timer();
    std::printf("BENCH poll_tick_us %.2f us\n",
                static_cast<double>(clock.nsecsElapsed()) / kTicks / 1000.0);

    // Each clock runs alone for its 10 s in a loop of its own: two 1 ms timers in one loop would
    // wake it twice a millisecond and hold up each other's ticks, and ending the application's
    // loop closes the window, whose closing tones would stop the poll inside the measured time.
    const auto ticksPerSecond = [&](auto& timer, auto timeoutSignal) {
        long ticks = 0;
        const QMetaObject::Connection counting =
            QObject::connect(&timer, timeoutSignal, [&] { ++ticks; });
        QEventLoop loop;
        QTimer::singleShot(10'000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        timer.start();
        clock.restart();
        loop.exec();
        const double seconds = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
        timer.stop();
        QObject::disconnect(counting);
        return ticks / seconds;
    };
    std::printf("BENCH poll_ticks_per_s %.0f ticks/s\n",
                ticksPerSecond(*monitor.timer(), &monitor::PollTimer::timeout));
    QTimer bare;
    bare.setTimerType(Qt::PreciseTimer);
    bare.setInterval(1);
    std::printf("BENCH timer_ticks_per_s %.0f ticks/s\n", ticksPerSecond(bare, &QTimer::timeout));
    return 0;
}
