// Serial receive on one pseudo-terminal fed at full speed from its master end: TComm through
// OnRxChar and Read, against picocom on the same feed (comm_picocom_rx_mb_s; bench_terminal
// has the picocom figures for line feeds); then the latency from a byte written at
// the far end to OnRxChar running.
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
#include "picocom.h"

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
    void runUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
        const auto deadline = Clock::now() + limit;
        std::unique_lock guard(lock_);
        while (!done() && Clock::now() < deadline) {
            if (!changed_.wait_until(guard, deadline, [&] { return !queue_.empty(); })) break;
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

struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) std::perror("openpty");
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        path = name;
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
};

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

double commThroughput(Owner& owner) {
    Pty pty;
    comm::TComm comm(owner.runOnOwner());
    comm.SetDeviceName(pty.path);
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
    std::thread writer(feed, pty.master, kFeedBytes);
    owner.runUntil([&] { return received >= kFeedBytes; }, std::chrono::seconds(60));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    comm.Close();
    if (received != kFeedBytes || !intact)
        std::fprintf(stderr, "bench_comm: %zu of %zu bytes, %s\n", received, kFeedBytes,
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

}  // namespace

int main() {
    Owner owner;
    std::printf("BENCH comm_rx_mb_s %.1f MB/s\n", commThroughput(owner));
    std::printf("BENCH comm_picocom_rx_mb_s %.1f MB/s\n", picocomThroughput());
    std::printf("BENCH comm_rx_latency_us %.0f us\n", medianLatencyUs(owner));
    return 0;
}
