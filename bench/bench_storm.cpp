// A register storm: the running program (TForm1 with its real 1 ms poll in the event loop) on
// a port host whose registers +0 to +6 of COM1 all change on every tick, so every tick writes
// seven change records. Compared with the same program over the same host standing still, and
// with the resident memory watched while the panes run full and drop their oldest lines.
//
// The host is a stand-in written for this benchmark, not the simulated PC: a UART cannot be
// made to change seven registers on every tick, and this one derives every value from a
// counter that advances once per tick, so the poll's reads within a tick agree.
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
#include "platform/driver_host.h"
#include "program_environment.h"

namespace {

constexpr uint16_t kCom1 = 0x3F8;
constexpr int kIdleMs = 5'000;
constexpr int kStormMs = 60'000;
constexpr int kRssFromMs = 10'000;

// Windows 95 to the port component, so it opens the VxD directly and needs no services.
class StormHost : public platform::DriverHost {
public:
    uint32_t generation = 0;

    bool getVersion(uint32_t, platform::OsVersion& version) override {
        version = {1, 4, 0};
        return true;
    }
    platform::Handle openServiceManager(uint32_t) override { return 0; }
    platform::Handle createService(platform::Handle, const std::string&, const std::string&,
                                   uint32_t, uint32_t, uint32_t, uint32_t,
                                   const std::string&) override {
        return 0;
    }
    platform::Handle openService(platform::Handle, const std::string&, uint32_t) override {
        return 0;
    }
    bool startService(platform::Handle) override { return false; }
    bool controlService(platform::Handle, uint32_t) override { return false; }
    bool deleteService(platform::Handle) override { return false; }
    bool closeServiceHandle(platform::Handle) override { return true; }
    platform::Handle createFile(const std::string&, uint32_t, uint32_t, uint32_t,
                                uint32_t) override {
        return kDevice;
    }
    // Registers +0 to +6 show the counter, each shifted differently; everything else reads 0
    // and writes (the speaker's among them) go nowhere.
    bool deviceIoControl(platform::Handle, uint32_t code, const void* in, uint32_t, void* out,
                         uint32_t, uint32_t* bytesReturned) override {
        const auto* request = static_cast<const uint8_t*>(in);
        const uint16_t port = static_cast<uint16_t>(request[0] | request[1] << 8);
        auto* answer = static_cast<uint8_t*>(out);
        answer[0] = answer[1] = 0;
        if (code == platform::kVxdReadCode && port >= kCom1 && port <= kCom1 + 6)
            answer[0] = static_cast<uint8_t>(generation + 37u * (port - kCom1));
        *bytesReturned = platform::kAnswerSize;
        return true;
    }
    bool closeHandle(platform::Handle) override { return true; }
    std::string currentDirectory() override { return "C:\\QUILLMOR"; }
    std::string systemDirectory() override { return "C:\\WINDOWS\\SYSTEM"; }
    bool fileExists(const std::string&) override { return false; }
    void sleepMs(uint32_t) override {}
    uint32_t lastError() override { return 0; }

private:
    static constexpr platform::Handle kDevice = 0x51;
};

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
