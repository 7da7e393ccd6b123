#include "sim/wires.h"

namespace sim {

ModemInputs crossedModemInputs(const ModemOutputs& out) {
    return ModemInputs{.cts = out.rts, .dsr = out.dtr, .ri = false, .dcd = out.dtr};
}

void NullModemCable::End::modemOutputsChanged(const ModemOutputs& out, int64_t atNs) {
    far_.setModemInputs(crossedModemInputs(out), atNs);
}

NullModemCable::NullModemCable(Uart16550& a, Uart16550& b, int64_t nowNs)
    : a_(a), b_(b), toB_(b), toA_(a) {
    a_.attach(&toB_, nowNs);
    b_.attach(&toA_, nowNs);
    a_.setModemInputs(crossedModemInputs(b_.modemOutputs()), nowNs);
    b_.setModemInputs(crossedModemInputs(a_.modemOutputs()), nowNs);
}

NullModemCable::~NullModemCable() {
    a_.attach(nullptr, 0);
    b_.attach(nullptr, 0);
}

void LoopbackPlug::modemOutputsChanged(const ModemOutputs& out, int64_t atNs) {
    uart_.setModemInputs(crossedModemInputs(out), atNs);
}

LoopbackPlug::LoopbackPlug(Uart16550& uart, int64_t nowNs) : uart_(uart) {
    uart_.attach(this, nowNs);
    uart_.setModemInputs(crossedModemInputs(uart_.modemOutputs()), nowNs);
}

LoopbackPlug::~LoopbackPlug() {
    uart_.attach(nullptr, 0);
}

}  // namespace sim
