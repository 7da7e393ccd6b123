// One ReadPort through TPortIO and the Linux driver host on the process-wide simulated PC, the
// access the register poll makes several times per 1 ms tick.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "platform/linux_driver_host.h"
#include "portio/port_io.h"

int main() {
    constexpr int kReads = 5'000'000;
    constexpr uint16_t kCom1LineStatus = 0x3FD;

    platform::LinuxDriverHost host({.backend = platform::PortBackend::Simulated});
    portio::TPortIO io(host);
    if (!io.OpenDriver()) {
        std::fprintf(stderr, "bench_portio: the driver did not open (error %u)\n", io.LastError);
        return 1;
    }
    for (int i = 0; i < 10'000; ++i) io.ReadPort(kCom1LineStatus);

    [[maybe_unused]] volatile uint16_t sink = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kReads; ++i) sink = io.ReadPort(kCom1LineStatus);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    const double ns = std::chrono::duration<double, std::nano>(elapsed).count() / kReads;
    std::printf("BENCH portio_read_sim_ns %.1f ns\n", ns);
    return 0;
}
