#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sim/clock.h"
#include "sim/serial_line.h"

namespace sim {

class Uart16550;

// How a simulated COM port's pins are wired.
enum class Wiring {
    NullModemToPartner,  // COM1<->COM2, COM3<->COM4: TX/RX, RTS/CTS, DTR/DSR+DCD crossed
    LoopbackPlug,        // TX->RX, RTS->CTS, DTR->DSR+DCD on the same port
    PseudoTerminal,      // a pty whose slave end any program may open
    Unplugged,
};

struct PcConfig {
    // Wiring of COM1..COM4.
    Wiring com[4] = {Wiring::NullModemToPartner, Wiring::NullModemToPartner, Wiring::PseudoTerminal,
                     Wiring::PseudoTerminal};
    // Folder where the pty slave paths are published as links com3, com4, or names of their
    // own while another copy holds those (see PtyLinks); empty: do not publish.
    std::string publishDir;
    // Run a service thread that moves bytes between the pseudo-terminals and the UARTs. Tests
    // with a fake clock leave it off and call serviceWires() themselves.
    bool serviceThread = false;
};

// The simulated PC: a 64 K I/O port bus with four 16550A UARTs at $3F8, $2F8, $3E8, $2E8,
// PIT channel 2 with the speaker gate at $61, and the wires behind the UARTs. Unclaimed ports
// read $FF and ignore writes. One lock guards everything, so the GUI thread's port reads and a
// serial driver's accesses may interleave as on real hardware.
class SimulatedPc {
public:
    SimulatedPc(const Clock& clock, PcConfig config);
    ~SimulatedPc();
    SimulatedPc(const SimulatedPc&) = delete;
    SimulatedPc& operator=(const SimulatedPc&) = delete;

    uint8_t in(uint16_t port);
    void out(uint16_t port, uint8_t value);

    // The tone the speaker is sounding, in Hz, or nothing while it is silent.
    std::optional<double> speakerToneHz();

    // Path of the pty slave behind COM n (1-4), empty when that port is not on a pty.
    std::string ptyPath(int com) const;

    // Moves bytes between the pseudo-terminals and their UARTs once, without blocking.
    void serviceWires();

    const Clock& clock() const { return clock_; }

    // For a serial driver: blocks until COM n (1-4) raises its interrupt as the PC sees it (the
    // UART's INTRPT gated by MCR OUT2), until `cancelled` answers true, or until maxWait of real
    // time has passed; returns whether the interrupt is raised. It wakes when simulated time
    // brings the next UART event due, and on every out(), serviceWires() and
    // wakeInterruptWaiters(); with a fake clock, time moves on for it at those calls only.
    bool waitForInterrupt(int com, std::chrono::nanoseconds maxWait,
                          const std::function<bool()>& cancelled);
    // Makes every waitForInterrupt() look again (at its cancel test, among others).
    void wakeInterruptWaiters();

    // For tests: a character arrives at COM n's RX pin as if from its wire, complete at c.endNs,
    // so line errors and breaks can be made without a far end.
    void injectReceived(int com, const Character& c);

    // The process-wide simulated PC on the real clock, with the default wiring, a service
    // thread and the pty paths published (see publishDirectory()). Created on first use.
    static SimulatedPc& instance();
    // Where instance() publishes its pty links: $XDG_RUNTIME_DIR/quillmor, else
    // /tmp/quillmor-<uid>.
    static std::string publishDirectory();

private:
    struct Impl;
    const Clock& clock_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
