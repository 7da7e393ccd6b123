// Serial receive on one pseudo-terminal fed at full speed from its master end: TComm through
// OnRxChar and Read, against picocom on the same feed (comm_picocom_rx_mb_s; bench_terminal
// has the picocom figures for line feeds) and against the same feed reaching the component
// through ser2net's RFC 2217 port (rfc2217_rx_mb_s); then the latency from a byte written at the
// far end to OnRxChar running; then lines written at full speed into the pseudo-terminal of a
// simulated COM3 and received through its UART and the simulated driver, counting losses.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm.h"
#include "comm/comm_os.h"
#include "picocom.h"
#include "serial_servers.h"
#include "sim/clock.h"
#include "sim/simulated_pc.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kFeedBytes = 32u << 20;
constexpr int kLatencySamples = 300;

char feedByte(size_t i) {
    return static_cast<char>('A' + i % 26);
}

// The main thread as the component's owner: handovers wait here until run() takes them.
class Owner {
public:
    Owner() = default;
    // A watcher closed while handing over may still queue its call: it is let go, not left
    // waiting on a destroyed queue.
    ~Owner() {
        runUntil([] { return false; }, std::chrono::milliseconds(200));
    }
    comm::RunOnOwner runOnOwner() {
        return [this](const std::function<void()>& call) {
            std::unique_lock guard(lock_);
            queue_.push_back(&call);
            changed_.notify_all();
            changed_.wait(guard, [&] {
                return std::find(queue_.begin(), queue_.end(), &call) == queue_.end() &&
                       running_ != &call;
            });
        };
    }
    void runUntil(const std::function<bool()>& done, Clock::duration limit) {
        const auto deadline = Clock::now() + limit;
        std::unique_lock guard(lock_);
        while (!done() && Clock::now() < deadline) {
            // done() may turn true without a handover: it is looked at again now and then.
            const auto slice = std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
            if (!changed_.wait_until(guard, slice, [&] { return !queue_.empty(); })) continue;
            running_ = queue_.front();
            queue_.pop_front();
            guard.unlock();
            (*running_)();
            guard.lock();
            running_ = nullptr;
            changed_.notify_all();
        }
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<const std::function<void()>*> queue_;
    const std::function<void()>* running_ = nullptr;
};

using Pty = commtest::PseudoTerminal;

// Writes count bytes as fast as the pty takes them; gives up after a second in which the
// reader took nothing, so a reader that died cannot hang the benchmark.
void feed(int fd, size_t count) {
    std::vector<char> block(65536);
    for (size_t sent = 0; sent < count;) {
        const size_t n = std::min(block.size(), count - sent);
        for (size_t i = 0; i < n; ++i) block[i] = feedByte(sent + i);
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return;
        const ssize_t w = ::write(fd, block.data(), n);
        if (w < 0 && errno == EAGAIN) continue;
        if (w <= 0) return;
        sent += static_cast<size_t>(w);
    }
}

// The component on `device` receiving what is fed into `feedFd`, every byte checked in order.
double commThroughput(Owner& owner, const std::string& device, int feedFd, const char* name) {
    comm::TComm comm(owner.runOnOwner());
    comm.SetDeviceName(device);
    comm.SetReadBufSize(65536);
    size_t received = 0;
    bool intact = true;
    std::vector<char> buf(65536);
    comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        const int32_t n = sender->Read(buf.data(), std::min<int32_t>(count, 65536));
        for (int32_t i = 0; i < n; ++i) intact = intact && buf[i] == feedByte(received + i);
        received += static_cast<size_t>(n);
    };
    comm.Open();
    const auto start = Clock::now();
    std::thread writer(feed, feedFd, kFeedBytes);
    owner.runUntil([&] { return received >= kFeedBytes; }, std::chrono::seconds(60));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    comm.Close();
    if (received != kFeedBytes || !intact)
        std::fprintf(stderr, "bench_comm: %s: %zu of %zu bytes, %s\n", name, received, kFeedBytes,
                     intact ? "in order" : "corrupted");
    return received / seconds / 1e6;
}

// picocom on the slave, its terminal output a pipe we count.
double picocomThroughput() {
    Pty pty;
    Picocom picocom(pty.path, pty.master);
    if (picocom.output() < 0) return 0;
    size_t got = 0;
    char buf[65536];
    pollfd p{picocom.output(), POLLIN, 0};
    const auto start = Clock::now();
    std::thread writer(feed, pty.master, kFeedBytes);
    while (got<kFeedBytes&& ::poll(&p, 1, 2000)> 0) {
        const ssize_t n = ::read(picocom.output(), buf, sizeof buf);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    if (got < kFeedBytes)
        std::fprintf(stderr, "bench_comm: picocom gave %zu of %zu bytes\n", got, kFeedBytes);
    return std::min(got, kFeedBytes) / seconds / 1e6;
}

double medianLatencyUs(Owner& owner) {
    Pty pty;
    comm::TComm comm(owner.runOnOwner());
    comm.SetDeviceName(pty.path);
    Clock::time_point sent;
    std::vector<double> samples;
    comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        char buf[16];
        sender->Read(buf, std::min<int32_t>(count, 16));
    };
    comm.Open();
    for (int i = 0; i < kLatencySamples; ++i) {
        const size_t before = samples.size();
        sent = Clock::now();
        ::write(pty.master, "x", 1);
        owner.runUntil([&] { return samples.size() > before; }, std::chrono::seconds(5));
    }
    comm.Close();
    if (samples.empty()) return 0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

// Simulated COM3 of a PC of the benchmark's own, on a pseudo-terminal as in the program.
class SimCom3 final : public comm::TComm {
public:
    SimCom3(comm::RunOnOwner owner, sim::SimulatedPc& pc) : TComm(std::move(owner)), pc_(pc) {}
    ~SimCom3() override { Close(); }

protected:
    void CreateHandle() override {
        int error = 0;
        std::shared_ptr<comm::OsPort> port = comm::openSimulatedPort(pc_, 3, error);
        if (!port) RaiseCommError("Error accessing specified device", error);
        AttachHandle(port);
    }

private:
    sim::SimulatedPc& pc_;
};

struct LineLoss {
    int sent = 0;
    int received = 0;  // lines that arrived whole and in their place
    double seconds = 0;
};

// Lines "%08d" CR LF written as fast as the pseudo-terminal takes them, received through the
// UART at `rate` (a rate the driver refuses leaves the port at 115200) and the simulated driver.
LineLoss simulatedComLineLoss(Owner& owner, comm::TBaudrate rate, int lines) {
    sim::SteadyClock clock;
    sim::PcConfig config;
    config.com[0] = config.com[1] = config.com[3] = sim::Wiring::Unplugged;
    config.serviceThread = true;
    sim::SimulatedPc pc(clock, config);
    SimCom3 com(owner.runOnOwner(), pc);
    com.SetBaudRate(comm::br115200);
    com.SetFlowControl(comm::fcNone);
    std::string text;
    std::vector<char> buf(4096);
    com.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        const int32_t n = sender->Read(buf.data(), std::min<int32_t>(count, 4096));
        text.append(buf.data(), static_cast<size_t>(std::max(n, 0)));
    };
    com.Open();
    try {
        com.SetBaudRate(rate);
    } catch (const comm::ECommError& e) {
        std::fprintf(stderr, "bench_comm: %s\n", e.what());
    }
    const int fd = ::open(pc.ptyPath(3).c_str(), O_WRONLY | O_NOCTTY);
    const auto start = Clock::now();
    std::thread writer([&] {
        char line[16];
        for (int i = 0; i < lines; ++i) {
            std::snprintf(line, sizeof line, "%08d\r\n", i);
            if (::write(fd, line, 10) != 10) return;
        }
    });
    const size_t expected = static_cast<size_t>(lines) * 10;
    size_t seen = 0;
    auto lastChange = Clock::now();
    owner.runUntil(
        [&] {
            if (text.size() != seen) {
                seen = text.size();
                lastChange = Clock::now();
            }
            return seen >= expected || Clock::now() - lastChange > std::chrono::seconds(2);
        },
        std::chrono::seconds(120));
    LineLoss loss{.sent = lines,
                  .seconds = std::chrono::duration<double>(lastChange - start).count()};
    writer.join();
    ::close(fd);
    com.Close();
    char want[16];
    size_t at = 0;
    for (int i = 0; i < lines; ++i) {
        std::snprintf(want, sizeof want, "%08d\r\n", i);
        const size_t found = text.find(want, at);
        if (found == std::string::npos) continue;
        ++loss.received;
        at = found + 10;
    }
    return loss;
}

void printLineLoss(Owner& owner, comm::TBaudrate rate, const char* name) {
    const LineLoss loss = simulatedComLineLoss(owner, rate, 3000);
    std::printf("BENCH sim_com3_lines_lost_%s %d of %d\n", name, loss.sent - loss.received,
                loss.sent);
    std::printf("BENCH sim_com3_rx_%s %.0f B/s\n", name, loss.received * 10 / loss.seconds);
}

}  // namespace

int main() {
    Owner owner;
    {
        Pty pty;
        std::printf("BENCH comm_rx_mb_s %.1f MB/s\n",
                    commThroughput(owner, pty.path, pty.master, "comm_rx_mb_s"));
    }
    {
        // The same feed through ser2net: its pseudo-terminal fed from the master, the component
        // on the far side of its RFC 2217 port.
        commtest::SerialServer ser2net(commtest::ServerKind::kSer2netRfc2217);
        if (!ser2net.failure().empty()) {
            std::fprintf(stderr, "bench_comm: no rfc2217_rx_mb_s: %s\n", ser2net.failure().c_str());
        } else {
            std::printf("BENCH rfc2217_rx_mb_s %.1f MB/s\n",
                        commThroughput(owner, ser2net.deviceName(), ser2net.line().master,
                                       "rfc2217_rx_mb_s"));
        }
    }
    std::printf("BENCH comm_picocom_rx_mb_s %.1f MB/s\n", picocomThroughput());
    std::printf("BENCH comm_rx_latency_us %.0f us\n", medianLatencyUs(owner));
    printLineLoss(owner, comm::br115200, "115200");
    printLineLoss(owner, comm::br256000, "256000");
    return 0;
}
