#pragma once

#include <cstdint>

namespace sim {

// The character format a UART is programmed for: divisor latch and LCR bits 0-5 (word length,
// stop bits, parity). Two ends of a wire understand each other only when these agree.
struct Frame {
    uint16_t divisor = 12;
    uint8_t format = 0x03;  // LCR & 0x3F
    bool operator==(const Frame&) const = default;
};

// One character as it crosses a wire: complete (stop bit seen) at endNs.
struct Character {
    uint8_t data = 0;
    Frame frame;
    bool isBreak = false;  // the line was held spacing for a whole frame
    int64_t endNs = 0;
    bool parityError = false;  // the parity bit arrived wrong (seen only if parity is on)
};

// Modem control outputs of a UART as the wire sees them (inactive while in loopback).
struct ModemOutputs {
    bool rts = false;
    bool dtr = false;
    bool operator==(const ModemOutputs&) const = default;
};

// Modem status inputs of a UART, as the wire drives them.
struct ModemInputs {
    bool cts = false;
    bool dsr = false;
    bool ri = false;
    bool dcd = false;
    bool operator==(const ModemInputs&) const = default;
};

// What a UART's serial pins are plugged into. The UART calls these while it advances; the
// wire answers by calling the far UART's receive()/setModemInputs(), or by talking to a pty.
class SerialLine {
public:
    virtual ~SerialLine() = default;
    // A whole character (or a break frame) left the TX pin.
    virtual void transmit(const Character& c) = 0;
    virtual void modemOutputsChanged(const ModemOutputs& out, int64_t atNs) = 0;
};

}  // namespace sim
