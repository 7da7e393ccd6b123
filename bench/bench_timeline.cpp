// The timeline's costs. The running program (TForm1 with its real 1 ms poll in the event loop)
// on the storm host, with and without the recording, the timeline window open and following:
// the poll's rate standing still and in the storm. Then a recorder given an hour of that
// storm at once: the memory its rings take, the time the window takes to draw the hour and
// one second of it, and the time a VCD export of the hour takes.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <array>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "app/event_loop.h"
#include "app/main_window.h"
#include "monitor/register_monitor.h"
#include "program_environment.h"
#include "storm_host.h"
#include "terminal/terminal_page.h"
#include "timeline/export.h"
#include "timeline/recording.h"
#include "timeline/timeline_window.h"
#include "timeline/trace_view.h"

namespace {

constexpr int kPhaseMs = 10'000;
constexpr int64_t kHourTicks = 3'600'000;

struct Phase {
    const char* name;
    const char* cpuName;
    bool recording;
    bool storm;
};

// The main thread's processor time: what the poll, the recording and the window cost it, less
// disturbed than the tick rate by other programs on a loaded machine.
double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec * 1e-6;
}

// An hour of the storm host's registers, one tick a millisecond, straight into a recorder.
void fillHour(timeline::Recorder& recorder, int64_t& clock) {
    std::array<uint8_t, 8> values{};
    for (int64_t tick = 0; tick < kHourTicks; ++tick) {
        clock += 1000;
        for (int offset = 0; offset < 7; ++offset)
            values[offset] = static_cast<uint8_t>(tick + 37 * offset);
        recorder.recordRegisters(values, 0x7F);
    }
}

// A whole frame drawn anew, as after a zoom.
double paintMs(timeline::TraceView& view, int frames) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < frames; ++i) {
        view.redrawAll();
        view.grab();
    }
    return clock.nsecsElapsed() * 1e-6 / frames;
}

// Frames of a followed recording: the view moves on by a frame's time (50 ms) each time.
double followMs(timeline::TraceView& view, int frames) {
    view.grab();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < frames; ++i) {
        view.setView(view.startUs() + 50'000, view.usPerPixel());
        view.grab();
    }
    return clock.nsecsElapsed() * 1e-6 / frames;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir settings;
    useBenchProgramEnvironment(settings);
    app::useQtEventLoop();
    QApplication application(argc, argv);
    StormHost host;
    app::TForm1 form(host, [] { return std::vector<std::string>{}; });
    timeline::Recording recording(form.registerMonitor(), {&form.terminalPage().Comm1(), {}, {}});
    timeline::TimelineWindow window(recording, "bench");
    monitor::PollTimer* poll = form.registerMonitor().timer();
    bool storming = false;
    long ticks = 0;
    QObject::connect(poll, &monitor::PollTimer::timeout, [&] {
        ++ticks;
        if (storming) ++host.generation;
    });
    form.show();
    while (!poll->isActive()) QApplication::processEvents();

    // The baselines: the recording paused (each tick with changes still calls it) and the
    // window closed.
    const auto record = [&](bool on) {
        recording.recorder().setPaused(!on);
        if (on) {
            window.resize(1366, 700);
            window.show();
        } else {
            window.hide();
        }
    };
    const std::array<Phase, 4> phases = {
        {{"timeline_baseline_idle_ticks_per_s", "timeline_baseline_idle_main_cpu_ms_per_s", false,
          false},
         {"timeline_idle_ticks_per_s", "timeline_idle_main_cpu_ms_per_s", true, false},
         {"timeline_baseline_storm_ticks_per_s", "timeline_baseline_storm_main_cpu_ms_per_s", false,
          true},
         {"timeline_storm_ticks_per_s", "timeline_storm_main_cpu_ms_per_s", true, true}}};
    // One run of the event loop for all phases: ending it would close the window.
    std::array<double, 4> rates{};
    std::array<double, 4> cpu{};
    double cpuAtStart = 0;
    QElapsedTimer phaseClock;
    std::function<void(size_t)> runPhase = [&](size_t i) {
        if (i == phases.size()) {
            application.quit();
            return;
        }
        record(phases[i].recording);
        storming = phases[i].storm;
        QTimer::singleShot(500, [&] {
            ticks = 0;
            cpuAtStart = threadCpuMs();
            phaseClock.start();
        });
        QTimer::singleShot(500 + kPhaseMs, [&, i] {
            const double seconds = phaseClock.nsecsElapsed() * 1e-9;
            rates[i] = ticks / seconds;
            cpu[i] = (threadCpuMs() - cpuAtStart) / seconds;
            runPhase(i + 1);
        });
    };
    QTimer::singleShot(0, [&] { runPhase(0); });
    application.exec();
    poll->stop();
    window.hide();
    for (size_t i = 0; i < phases.size(); ++i) {
        std::printf("BENCH %s %.0f ticks/s\n", phases[i].name, rates[i]);
        std::printf("BENCH %s %.1f ms/s\n", phases[i].cpuName, cpu[i]);
    }

    // An hour of the storm.
    int64_t clock = 0;
    timeline::Recorder hour([&clock] { return clock; });
    QElapsedTimer fill;
    fill.start();
    fillHour(hour, clock);
    std::printf("BENCH timeline_record_hour_s %.2f s\n", fill.nsecsElapsed() * 1e-9);
    std::printf("BENCH timeline_ring_mb %.1f MB\n", hour.usedBytes() / 1e6);

    timeline::TraceView view(hour);
    view.resize(1366, 600);
    view.setLanes(timeline::lanesNamed(timeline::defaultLaneNames(), true));
    view.setFollow(false);
    view.showAll();
    std::printf("BENCH timeline_paint_hour_ms %.1f ms\n", paintMs(view, 10));
    view.setView(hour.lastTimeUs() - 1'000'000, 1e6 / view.traceWidth());
    std::printf("BENCH timeline_paint_second_ms %.1f ms\n", paintMs(view, 10));
    view.setView(hour.lastTimeUs() / 2, 10000);  // 10 ms a pixel, the window's default
    std::printf("BENCH timeline_follow_frame_ms %.2f ms\n", followMs(view, 100));

    const QString path = settings.filePath(QStringLiteral("hour.vcd"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return 1;
    QElapsedTimer exporting;
    exporting.start();
    auto out = timeline::vcdExport(hour, timeline::allLanes(true), {.programVersion = "bench"});
    while (!out->done()) {
        const std::string text = out->next(100'000);
        file.write(text.data(), static_cast<qint64>(text.size()));
    }
    file.close();
    std::printf("BENCH timeline_vcd_export_hour_s %.1f s\n", exporting.nsecsElapsed() * 1e-9);
    std::printf("BENCH timeline_vcd_hour_mb %.0f MB\n", file.size() / 1e6);
    return 0;
}
