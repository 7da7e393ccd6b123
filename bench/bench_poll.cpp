// The register poll on the simulated PC with COM1 shown and nothing changing: the cost of one
// tick called directly, then the program's real 1 ms poll in its event loop over 10 s next to a
// bare 1 ms precise timer, so the two rates can be compared.
#include <QApplication>
#include <QElapsedTimer>
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

    long pollTicks = 0, bareTicks = 0;
    QObject::connect(monitor.timer(), &monitor::PollTimer::timeout, [&] { ++pollTicks; });
    QTimer bare;
    bare.setTimerType(Qt::PreciseTimer);
    bare.setInterval(1);
    QObject::connect(&bare, &QTimer::timeout, [&] { ++bareTicks; });
    QTimer::singleShot(10'000, &application, &QApplication::quit);
    monitor.timer()->start();
    bare.start();
    clock.restart();
    application.exec();
    double seconds = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
    std::printf("BENCH poll_ticks_per_s %.0f ticks/s\n", pollTicks / seconds);
    std::printf("BENCH timer_ticks_per_s %.0f ticks/s\n", bareTicks / seconds);
    return 0;
}
