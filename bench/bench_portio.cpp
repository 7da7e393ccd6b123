// One ReadPort through TPortIO and the Linux driver host, the access the register poll makes
// several times per 1 ms tick: on the process-wide simulated PC, and with --devport also through
// the kernel's /dev/port (the guest machine of scripts/test-hardware runs that; bench/run never
// passes it, so a benchmark run never touches this machine's ports).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/linux_driver_host.h"
#include "portio/port_io.h"

namespace {

// Nanoseconds per read of a UART's line status register, or a negative number when the driver
// did not open.
double readNs(platform::PortBackend backend, uint16_t port, int reads) {
    platform::LinuxDriverHost host({.backend = backend});
    portio::TPortIO io(host);
    if (!io.OpenDriver()) {
        std::fprintf(stderr, "bench_portio: the driver did not open (error %u)\n", io.LastError);
        return -1;
    }
    for (int i = 0; i < reads / 100; ++i) io.ReadPort(port);

    [[maybe_unused]] volatile uint16_t sink = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < reads; ++i) sink = io.ReadPort(port);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() / reads;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool devPort = argc > 1 && std::strcmp(argv[1], "--devport") == 0;
    // COM1's on the simulated PC; COM2's in the guest, where COM1 is the console.
    const double sim =
        readNs(platform::PortBackend::Simulated, 0x3FD, devPort ? 500'000 : 5'000'000);
    if (sim < 0) return 1;
    std::printf("BENCH portio_read_sim_ns %.1f ns\n", sim);
    if (!devPort) return 0;
    const double real = readNs(platform::PortBackend::DevPort, 0x2FD, 50'000);
    if (real < 0) return 1;
    std::printf("BENCH portio_read_devport_ns %.1f ns\n", real);
    std::printf("BENCH portio_read_devport_to_sim_ratio %.1f x\n", real / sim);
    return 0;
}
