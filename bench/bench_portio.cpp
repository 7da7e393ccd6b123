// One ReadPort through TPortIO and the Linux driver host, the access the register poll makes
// several times per 1 ms tick: on the process-wide simulated PC, and with --devport also through
// the kernel's /dev/port (the guest machine of scripts/test-hardware runs that; bench/run never
// passes it, so a benchmark run never touches this machine's ports), once opened by the program
// itself and once by the port helper, whose descriptor must cost nothing more per read.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/linux_driver_host.h"
#include "portio/port_io.h"

namespace {

// A driver opened through one configuration of the Linux driver host.
struct Driver {
    explicit Driver(const platform::LinuxDriverHostConfig& config) : host(config) {
        if (!io.OpenDriver())
            std::fprintf(stderr, "bench_portio: the driver did not open (error %u)\n",
                         io.LastError);
    }
    platform::LinuxDriverHost host;
    portio::TPortIO io{host};
};

// Nanoseconds per read of a UART's line status register.
double readNs(portio::TPortIO& io, uint16_t port, int reads) {
    for (int i = 0; i < reads / 100; ++i) io.ReadPort(port);
    [[maybe_unused]] volatile uint16_t sink = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < reads; ++i) sink = io.ReadPort(port);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration<double, std::nano>(elapsed).count() / reads;
}

// Root without the right to raw I/O in this thread: its own open of /dev/port is refused, so
// the driver host runs the port helper, which, started by root, has the right again.
bool dropRawIo() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    data[0].effective &= ~(1u << CAP_SYS_RAWIO);
    return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool devPort = argc > 1 && std::strcmp(argv[1], "--devport") == 0;
    // COM1's on the simulated PC; COM2's in the guest, where COM1 is the console.
    Driver sim({.backend = platform::PortBackend::Simulated});
    if (!sim.io.Opened()) return 1;
    const double simNs = readNs(sim.io, 0x3FD, devPort ? 500'000 : 5'000'000);
    std::printf("BENCH portio_read_sim_ns %.1f ns\n", simNs);
    if (!devPort) return 0;
    Driver own({.backend = platform::PortBackend::DevPort});
    if (!dropRawIo()) return 1;
    const auto helper = std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() /
                        "quillmor-port-helper";
    Driver helped({.backend = platform::PortBackend::DevPort, .portHelper = helper});
    if (!own.io.Opened() || !helped.io.Opened()) return 1;
    // Taken in turns, best of five, so that a slow stretch of the (emulated) machine does not
    // land on one side only.
    double ownNs = 1e12;
    double helpedNs = 1e12;
    for (int round = 0; round < 5; ++round) {
        ownNs = std::min(ownNs, readNs(own.io, 0x2FD, 10'000));
        helpedNs = std::min(helpedNs, readNs(helped.io, 0x2FD, 10'000));
    }
    std::printf("BENCH portio_read_devport_ns %.1f ns\n", ownNs);
    std::printf("BENCH portio_read_devport_to_sim_ratio %.1f x\n", ownNs / simNs);
    std::printf("BENCH portio_read_helper_ns %.1f ns\n", helpedNs);
    std::printf("BENCH portio_read_helper_to_devport_ratio %.2f x\n", helpedNs / ownNs);
    return 0;
}
