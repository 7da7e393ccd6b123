#pragma once

#include <cstdint>
#include <string>

#include "sim/serial_line.h"
#include "sim/uart16550.h"

namespace sim {

// A UART's line on a pseudo-terminal: what the UART transmits comes out of the pty's slave end,
// which any program (picocom, a script) may open, and what that program writes arrives in the
// UART's receiver at the UART's own line rate. A pty has no modem lines: the UART sees CTS, DSR
// and DCD asserted, as from a device that is always ready.
//
// The wire keeps a descriptor of the slave open itself, so a program that closes the slave (or
// exits) does not hang up the master: the UART goes on working with nothing arriving, and the
// next program can attach. The slave starts in raw mode, without echo.
class PtyWire final : public SerialLine {
public:
    // Throws std::system_error when no pseudo-terminal can be had.
    PtyWire(Uart16550& uart, int64_t nowNs);
    ~PtyWire() override;
    PtyWire(const PtyWire&) = delete;
    PtyWire& operator=(const PtyWire&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    void transmit(const Character& c) override;
    void modemOutputsChanged(const ModemOutputs&, int64_t) override {}

    // Writes what the UART sent to the pty and reads what the pty has for the UART, never
    // blocking. Reads only as far ahead as the line can carry in the next few milliseconds,
    // and only as much as the receiver has room for.
    void service(int64_t nowNs);
    // The UART's RBR was read: when the wire was held back for want of room and there is room
    // now, it sends on at once instead of at the next service pass.
    void receiverRead(int64_t nowNs);
    // True while the wire is waiting for room in the UART (the pty's input need not be polled).
    bool receiverSaturated() const { return receiveWindow() == 0; }
    bool hasPendingOutput() const { return !output_.empty(); }

private:
    size_t receiveWindow() const;

    Uart16550& uart_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string output_;        // transmitted bytes the pty has not taken yet
    int64_t lineFreeAtNs_ = 0;  // when the last byte handed to the receiver ends on the wire
    bool heldBack_ = false;     // the pty may hold more than the receiver had room for
};

}  // namespace sim
