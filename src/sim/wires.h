#pragma once

#include <cstdint>

#include "sim/serial_line.h"
#include "sim/uart16550.h"

namespace sim {

// A null-modem cable between two UARTs: TX to the far RX, RTS to the far CTS, DTR to the far
// DSR and DCD. RI is not wired.
class NullModemCable {
public:
    NullModemCable(Uart16550& a, Uart16550& b, int64_t nowNs);
    ~NullModemCable();
    NullModemCable(const NullModemCable&) = delete;
    NullModemCable& operator=(const NullModemCable&) = delete;

private:
    class End final : public SerialLine {
    public:
        explicit End(Uart16550& farUart) : far_(farUart) {}
        void transmit(const Character& c) override { far_.receive(c); }
        void modemOutputsChanged(const ModemOutputs& out, int64_t atNs) override;

    private:
        Uart16550& far_;
    };

    Uart16550& a_;
    Uart16550& b_;
    End toB_;
    End toA_;
};

// A loopback plug on one UART: TX to RX, RTS to CTS, DTR to DSR and DCD.
class LoopbackPlug final : public SerialLine {
public:
    LoopbackPlug(Uart16550& uart, int64_t nowNs);
    ~LoopbackPlug() override;
    LoopbackPlug(const LoopbackPlug&) = delete;
    LoopbackPlug& operator=(const LoopbackPlug&) = delete;

    void transmit(const Character& c) override { uart_.receive(c); }
    void modemOutputsChanged(const ModemOutputs& out, int64_t atNs) override;

private:
    Uart16550& uart_;
};

// What the modem inputs of a UART see when the outputs `out` are wired back crossed.
ModemInputs crossedModemInputs(const ModemOutputs& out);

}  // namespace sim
