#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/serial_line.h"

namespace sim {

// Register offsets of the 8250/16450/16550 family (DLAB switches offsets 0 and 1).
namespace reg {
inline constexpr uint8_t kRbrThrDll = 0;
inline constexpr uint8_t kIerDlm = 1;
inline constexpr uint8_t kIirFcr = 2;
inline constexpr uint8_t kLcr = 3;
inline constexpr uint8_t kMcr = 4;
inline constexpr uint8_t kLsr = 5;
inline constexpr uint8_t kMsr = 6;
inline constexpr uint8_t kScr = 7;
}  // namespace reg

// A National Semiconductor PC16550D as a pure register machine: read(offset)/write(offset, value)
// with the offset masked to 0-7, time passed in by the caller. Nothing here knows its base
// address or interrupt line; the bus wrapper does.
//
// Time: every call takes the current time in nanoseconds and first runs the shift registers up
// to it, so a character written to THR leaves the TX pin one frame time later at the programmed
// divisor and format, and a character handed to receive() appears in RBR when its stop bit ends.
// Calls must come with non-decreasing times.
//
// Reads have side effects as on the chip: RBR pops the receiver FIFO, LSR clears the error bits,
// MSR clears the delta bits, IIR clears a pending THRE interrupt when that is what it reports.
class Uart16550 {
public:
    Uart16550();

    // Master reset: the power-on values of the data sheet (the divisor latch is not reset).
    void reset(int64_t nowNs);

    uint8_t read(uint8_t offset, int64_t nowNs);
    void write(uint8_t offset, uint8_t value, int64_t nowNs);

    // Runs transmitter, receiver and time-out up to nowNs; delivers finished characters to the
    // attached line.
    void advance(int64_t nowNs);

    // The wire this UART's pins are plugged into; nullptr leaves them unconnected.
    void attach(SerialLine* line, int64_t nowNs);

    // A character arriving at the RX pin; it is assembled when c.endNs has passed.
    void receive(const Character& c);
    void setModemInputs(const ModemInputs& in, int64_t nowNs);

    Frame frame() const;
    // Time one character of the current frame takes on the wire.
    int64_t characterTimeNs() const;
    // Characters handed to receive() and not yet assembled into the FIFO (wire backlog).
    size_t receiveBacklog() const;
    // The INTRPT pin (before the PC's OUT2 gate): an enabled interrupt is pending.
    bool interruptPending(int64_t nowNs);
    ModemOutputs modemOutputs() const;
    // Earliest time at which advance() has something to do; INT64_MAX when idle.
    int64_t nextEventNs() const;

    Uart16550(const Uart16550&) = delete;
    Uart16550& operator=(const Uart16550&) = delete;

private:
};

}  // namespace sim
