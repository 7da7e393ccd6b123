// Bytes carried from COM1 to COM2 over the simulated null-modem cable at 115200 baud, per
// second of processor time. Simulated time comes from a fake clock, so the figure is the cost
// of the model, not of waiting for the wire.
#include <time.h>

#include <cstdio>

#include "sim/clock.h"
#include "sim/simulated_pc.h"

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void program115200Fifo(sim::SimulatedPc& pc, uint16_t base) {
    pc.out(base + 3, 0x80);  // DLAB
    pc.out(base + 0, 1);
    pc.out(base + 1, 0);
    pc.out(base + 3, 0x03);  // 8N1
    pc.out(base + 2, 0xC7);  // FIFOs on and cleared, trigger 14
}

}  // namespace

int main() {
    sim::FakeClock clock;
    sim::PcConfig config;
    config.com[2] = config.com[3] = sim::Wiring::Unplugged;
    sim::SimulatedPc pc(clock, config);
    program115200Fifo(pc, 0x3F8);
    program115200Fifo(pc, 0x2F8);

    constexpr int64_t kCharNs = 86'806;  // 10 bits at 115200 baud
    constexpr int kRounds = 400'000;
    constexpr int kBurst = 16;
    long carried = 0, wrong = 0;
    double start = cpuSeconds();
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < kBurst; ++i) pc.out(0x3F8, static_cast<uint8_t>(round + i));
        clock.advanceNs(kCharNs * (kBurst + 1));
        for (int i = 0; i < kBurst; ++i) {
            if (pc.in(0x2F8) != static_cast<uint8_t>(round + i)) ++wrong;
            ++carried;
        }
    }
    double seconds = cpuSeconds() - start;
    if (wrong) std::fprintf(stderr, "bench_sim: %ld of %ld bytes arrived wrong\n", wrong, carried);
    std::printf("BENCH sim_uart_bytes_per_s %.0f bytes/s\n",
                static_cast<double>(carried - wrong) / seconds);
    return 0;
}
