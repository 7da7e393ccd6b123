#include "sim/simulated_pc.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include "sim/pit_speaker.h"
#include "sim/pty_links.h"
#include "sim/pty_wire.h"
#include "sim/uart16550.h"
#include "sim/wires.h"

namespace sim {

namespace {

// What answers at a port: 0 is nobody, so the port floats at $FF.
enum Device : uint8_t {
    kNone = 0,
    kCom1 = 1,  // kCom1 + n is COM n+1
    kPitChannel2 = 5,
    kPitControl = 6,
    kSystemControl = 7,
};

// How often the service thread looks at a busy line. While a receiver is full it does not
// watch the pty, so it looks again now and then for room; otherwise, with nothing on the move,
// it sleeps until the pty delivers or the UARTs are written to.
constexpr int kBusyPollMs = 1;
constexpr int kSaturatedPollMs = 10;
constexpr int kSleepUntilWoken = -1;

}  // namespace

struct SimulatedPc::Impl {
    std::mutex lock;
    std::condition_variable interruptWaiters;
    std::array<Uart16550, 4> uarts;
    PitSpeaker speaker;
    std::array<uint8_t, 65536> owner{};
    std::vector<std::unique_ptr<NullModemCable>> cables;
    std::array<std::unique_ptr<LoopbackPlug>, 4> plugs;
    std::array<std::unique_ptr<PtyWire>, 4> ptys;
    std::unique_ptr<PtyLinks> links;

    std::thread serviceThread;
    std::atomic<bool> stopping{false};
    int wakePipe[2] = {-1, -1};
    // The service thread sleeps without a time-out (written under the lock).
    bool serviceAsleep = false;
    // The last clock reading of a port read, passed on while no event is due and the reading
    // would not matter.
    int64_t lastNowNs = 0;

    // Under the lock: the UARTs were written to, which may start a transmission the sleeping
    // service thread must carry to a pty.
    void wakeService() {
        if (!serviceAsleep) return;
        serviceAsleep = false;
        char wake = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wakePipe[1], &wake, 1);
    }

    // Port reads are the poll's hot path: while no UART has an event scheduled (and so every
    // receiver is up to date), time only matters to a read that is timed, so the clock is
    // read only then.
    int64_t readTime(const Clock& clock, bool timed) {
        if (timed || anyEventScheduled()) lastNowNs = clock.nowNs();
        return lastNowNs;
    }

    bool anyEventScheduled() const {
        for (const Uart16550& uart : uarts)
            if (uart.nextEventNs() != INT64_MAX) return true;
        return false;
    }

    void advanceAll(int64_t now) {
        for (Uart16550& uart : uarts)
            if (now >= uart.nextEventNs()) uart.advance(now);
    }

    // One pass over the pty wires; returns whether any line is still busy.
    bool servicePtys(int64_t now) {
        advanceAll(now);
        bool busy = false;
        for (auto& pty : ptys) {
            if (!pty) continue;
            pty->service(now);
            busy = busy || pty->hasPendingOutput() || pty->receiverSaturated();
        }
        return busy || anyEventScheduled();
    }
};

SimulatedPc::SimulatedPc(const Clock& clock, PcConfig config)
    : clock_(clock), impl_(std::make_unique<Impl>()) {
    Impl& pc = *impl_;
    const int64_t now = clock_.nowNs();
    for (int n = 0; n < 4; ++n) {
        for (int k = 0; k < 8; ++k)
            pc.owner[uart::kComBase[n] + k] = static_cast<uint8_t>(kCom1 + n);
    }
    pc.owner[0x42] = kPitChannel2;
    pc.owner[0x43] = kPitControl;
    pc.owner[0x61] = kSystemControl;

    for (int n = 0; n < 4; ++n) {
        switch (config.com[n]) {
            case Wiring::NullModemToPartner: {
                int partner = n ^ 1;  // COM1 with COM2, COM3 with COM4
                if (config.com[partner] == Wiring::NullModemToPartner && n < partner)
                    pc.cables.push_back(
                        std::make_unique<NullModemCable>(pc.uarts[n], pc.uarts[partner], now));
                break;
            }
            case Wiring::LoopbackPlug:
                pc.plugs[n] = std::make_unique<LoopbackPlug>(pc.uarts[n], now);
                break;
            case Wiring::PseudoTerminal:
                try {
                    pc.ptys[n] = std::make_unique<PtyWire>(pc.uarts[n], now);
                } catch (const std::system_error& e) {
                    std::fprintf(stderr, "quillmor: simulated COM%d left unplugged: %s\n", n + 1,
                                 e.what());
                }
                break;
            case Wiring::Unplugged:
                break;
        }
    }
    // The machine powers on with its cables plugged in: what the wires present is where the
    // modem inputs start, not a change that sets delta bits.
    for (Uart16550& uart : pc.uarts) uart.reset(now);

    if (!config.publishDir.empty()) {
        std::vector<std::pair<int, std::string>> published;
        for (int n = 0; n < 4; ++n)
            if (pc.ptys[n]) published.emplace_back(n + 1, pc.ptys[n]->slavePath());
        pc.links = std::make_unique<PtyLinks>(config.publishDir, published, stderr);
    }

    if (config.serviceThread && ::pipe2(pc.wakePipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        pc.serviceThread = std::thread([this] {
            Impl& p = *impl_;
            std::vector<pollfd> fds;
            while (!p.stopping.load()) {
                fds.clear();
                int timeoutMs = kSleepUntilWoken;
                {
                    std::lock_guard guard(p.lock);
                    if (p.servicePtys(clock_.nowNs())) timeoutMs = kBusyPollMs;
                    p.interruptWaiters.notify_all();
                    for (auto& pty : p.ptys) {
                        if (!pty) continue;
                        if (!pty->receiverSaturated())
                            fds.push_back({pty->masterFd(), POLLIN, 0});
                        else if (timeoutMs == kSleepUntilWoken)
                            timeoutMs = kSaturatedPollMs;
                    }
                    p.serviceAsleep = timeoutMs == kSleepUntilWoken;
                }
                fds.push_back({p.wakePipe[0], POLLIN, 0});
                ::poll(fds.data(), fds.size(), timeoutMs);
                if (fds.back().revents & POLLIN) {
                    char drained[64];
                    while (::read(p.wakePipe[0], drained, sizeof drained) > 0) {
                    }
                }
            }
        });
    }
}

SimulatedPc::~SimulatedPc() {
    Impl& pc = *impl_;
    if (pc.serviceThread.joinable()) {
        pc.stopping = true;
        char wake = 1;
        [[maybe_unused]] ssize_t ignored = ::write(pc.wakePipe[1], &wake, 1);
        pc.serviceThread.join();
    }
    for (int fd : pc.wakePipe)
        if (fd >= 0) ::close(fd);
}

uint8_t SimulatedPc::in(uint16_t port) {
    Impl& pc = *impl_;
    std::lock_guard guard(pc.lock);
    const uint8_t device = pc.owner[port];
    const int n = device - kCom1;
    const bool readsRbr = n >= 0 && n < 4 && (port & 7) == uart::reg::kRbrThrDll;
    // Taking a byte restarts the receiver's time-out, and a pty wire may then fetch more
    // input: both are timed from now.
    const int64_t now =
        pc.readTime(clock_, readsRbr && (pc.ptys[n] || pc.uarts[n].rbrReadTakesByte()));
    pc.advanceAll(now);
    switch (device) {
        case kNone:
            return 0xFF;
        case kPitChannel2:
            return pc.speaker.readChannel2();
        case kPitControl:
            return 0xFF;  // the 8254's control register cannot be read
        case kSystemControl:
            return pc.speaker.readControlPort();
        default: {
            const auto offset = static_cast<uint8_t>(port & 7);
            const uint8_t value = pc.uarts[n].read(offset, now);
            if (offset == uart::reg::kRbrThrDll && pc.ptys[n]) pc.ptys[n]->receiverRead(now);
            return value;
        }
    }
}

void SimulatedPc::out(uint16_t port, uint8_t value) {
    Impl& pc = *impl_;
    std::lock_guard guard(pc.lock);
    pc.interruptWaiters.notify_all();
    pc.wakeService();
    const int64_t now = clock_.nowNs();
    pc.advanceAll(now);
    switch (uint8_t device = pc.owner[port]) {
        case kNone:
            return;
        case kPitChannel2:
            pc.speaker.writeChannel2(value);
            return;
        case kPitControl:
            pc.speaker.writeTimerControl(value);
            return;
        case kSystemControl:
            pc.speaker.writeControlPort(value);
            return;
        default:
            pc.uarts[device - kCom1].write(static_cast<uint8_t>(port & 7), value, now);
    }
}

std::optional<double> SimulatedPc::speakerToneHz() {
    std::lock_guard guard(impl_->lock);
    return impl_->speaker.toneHz();
}

std::string SimulatedPc::ptyPath(int com) const {
    if (com < 1 || com > 4 || !impl_->ptys[com - 1]) return {};
    return impl_->ptys[com - 1]->slavePath();
}

void SimulatedPc::serviceWires() {
    std::lock_guard guard(impl_->lock);
    impl_->servicePtys(clock_.nowNs());
    impl_->interruptWaiters.notify_all();
}

bool SimulatedPc::waitForInterrupt(int com, std::chrono::nanoseconds maxWait,
                                   const std::function<bool()>& cancelled) {
    using RealClock = std::chrono::steady_clock;
    Impl& pc = *impl_;
    Uart16550& uart = pc.uarts[com - 1];
    const RealClock::time_point deadline = RealClock::now() + maxWait;
    std::unique_lock guard(pc.lock);
    int64_t lastSeenNs = std::numeric_limits<int64_t>::min();
    for (;;) {
        if (cancelled()) return false;
        const int64_t now = clock_.nowNs();
        pc.advanceAll(now);
        if (uart.interruptPending(now) && (uart.read(uart::reg::kMcr, now) & uart::kMcrOut2))
            return true;
        const RealClock::time_point realNow = RealClock::now();
        if (realNow >= deadline) return false;
        // Any UART's next event may raise ours (a partner's character lands in our receiver).
        // When simulated time stood still since the last look (a fake clock), waiting for that
        // event by real time would only poll; then only a wake-up moves things on.
        RealClock::time_point wakeAt = deadline;
        int64_t next = std::numeric_limits<int64_t>::max();
        for (const Uart16550& u : pc.uarts) next = std::min(next, u.nextEventNs());
        if (next != std::numeric_limits<int64_t>::max() && now != lastSeenNs)
            wakeAt = std::min(wakeAt, realNow + std::chrono::nanoseconds(next - now));
        lastSeenNs = now;
        pc.interruptWaiters.wait_until(guard, wakeAt);
    }
}

void SimulatedPc::wakeInterruptWaiters() {
    std::lock_guard guard(impl_->lock);
    impl_->interruptWaiters.notify_all();
}

void SimulatedPc::injectReceived(int com, const Character& c) {
    std::lock_guard guard(impl_->lock);
    impl_->uarts[com - 1].receive(c);
    impl_->wakeService();
    impl_->interruptWaiters.notify_all();
}

std::string SimulatedPc::publishDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/quillmor";
    return "/tmp/quillmor-" + std::to_string(::getuid());
}

SimulatedPc& SimulatedPc::instance() {
    static const SteadyClock clock;
    static SimulatedPc pc(clock, PcConfig{.publishDir = publishDirectory(), .serviceThread = true});
    return pc;
}

}  // namespace sim
