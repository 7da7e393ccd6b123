#include "sim/uart16550.h"

#include <algorithm>
#include <utility>

namespace sim {

namespace {

using namespace uart;

constexpr size_t kRxTriggerLevels[4] = {1, 4, 8, 14};

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr int64_t kCrystalHz = 1'843'200;
constexpr int64_t kNsPerSecond = 1'000'000'000;
// The receiver's time-out: no character in or out of the FIFO for this many character times.
constexpr int64_t kTimeoutCharacters = 4;

uint8_t inputBits(const ModemInputs& in) {
    return (in.cts ? kMsrCts : 0) | (in.dsr ? kMsrDsr : 0) | (in.ri ? kMsrRi : 0) |
           (in.dcd ? kMsrDcd : 0);
}

}  // namespace

Uart16550::Uart16550() {
    resetRegisters();
}

void Uart16550::reset(int64_t nowNs) {
    advance(nowNs);
    const ModemOutputs before = modemOutputs();
    resetRegisters();
    reportModemOutputs(before, nowNs);
}

// Master reset. The divisor latch keeps its value, and characters already on the wire towards
// us (the backlog) still arrive; what was in the transmitter is lost.
void Uart16550::resetRegisters() {
    ier_ = 0;
    lcr_ = 0;
    mcr_ = 0;
    scr_ = 0;
    fifoEnabled_ = false;
    rxTrigger_ = 1;
    lsrErrors_ = 0;
    thrInterrupt_ = false;
    txFifo_.clear();
    tsrBusy_ = false;
    clearRxFifo();
    rbrHold_ = 0;
    msrInputs_ = inputBits(lineInputs_);
    msrDeltas_ = 0;
    characterTimeNs_ = computeCharacterTimeNs();
    reschedule();
}

uint8_t Uart16550::read(uint8_t offset, int64_t nowNs) {
    advance(nowNs);
    switch (offset & 7) {
        case reg::kRbrThrDll:
            return dlab() ? static_cast<uint8_t>(divisor_) : readRbr(nowNs);
        case reg::kIerDlm:
            return dlab() ? static_cast<uint8_t>(divisor_ >> 8) : ier_;
        case reg::kIirFcr:
            return readIir();
        case reg::kLcr:
            return lcr_;
        case reg::kMcr:
            return mcr_;
        case reg::kLsr:
            return readLsr();
        case reg::kMsr:
            return readMsr();
        default:
            return scr_;
    }
}

bool Uart16550::rbrReadTakesByte() const {
    return !dlab() && !rxFifo_.empty();
}

void Uart16550::write(uint8_t offset, uint8_t value, int64_t nowNs) {
    advance(nowNs);
    switch (offset & 7) {
        case reg::kRbrThrDll:
            if (dlab()) {
                setDivisor(static_cast<uint16_t>((divisor_ & 0xFF00) | value));
            } else {
                writeThr(value, nowNs);
            }
            break;
        case reg::kIerDlm:
            if (dlab()) {
                setDivisor(static_cast<uint16_t>((divisor_ & 0x00FF) | (value << 8)));
            } else {
                writeIer(value);
            }
            break;
        case reg::kIirFcr:
            writeFcr(value);
            break;
        case reg::kLcr:
            writeLcr(value, nowNs);
            break;
        case reg::kMcr:
            writeMcr(value, nowNs);
            break;
        case reg::kScr:
            scr_ = value;
            break;
        default:
            // LSR and MSR writes exist on the chip for factory testing only.
            break;
    }
    reschedule();
}

void Uart16550::advance(int64_t nowNs) {
    if (nowNs < nextEventNs_) return;
    runUntil(nowNs);
}

// Events are taken one at a time in time order, the schedule recomputed before each, so that a
// line that answers transmit() by calling back into this UART (a loopback plug) finds it
// consistent.
void Uart16550::runUntil(int64_t nowNs) {
    for (reschedule(); nextEventNs_ <= nowNs; reschedule()) {
        const int64_t t = nextEventNs_;
        if (tsrBusy_ && tsrEndNs_ == t) {
            completeTransmit();
        } else if (breakOn() && !breakSent_ && breakFrameEndNs_ == t) {
            sendBreak();
        } else if (!backlog_.empty() && backlog_.front().endNs == t) {
            const Character c = backlog_.pop();
            // In loopback the RX pin is cut off from the serial input.
            if (!loopback()) assemble(c);
        } else {
            timeoutInterrupt_ = true;
        }
    }
}

void Uart16550::reschedule() {
    int64_t next = kNever;
    if (tsrBusy_) next = tsrEndNs_;
    if (breakOn() && !breakSent_) next = std::min(next, breakFrameEndNs_);
    if (!backlog_.empty()) next = std::min(next, backlog_.front().endNs);
    if (fifoEnabled_ && !rxFifo_.empty() && !timeoutInterrupt_) {
        next = std::min(next, timeoutDeadlineNs_);
    }
    nextEventNs_ = next;
}

void Uart16550::attach(SerialLine* line, int64_t nowNs) {
    advance(nowNs);
    line_ = line;
    // A new wire learns where our outputs stand.
    if (line_) line_->modemOutputsChanged(modemOutputs(), nowNs);
}

void Uart16550::receive(const Character& c) {
    if (backlog_.size() == kReceiveBacklogCapacity) return;
    backlog_.push(c);
    // Kept in endNs order; a wire delivers in order, so the loop normally does nothing.
    for (size_t i = backlog_.size() - 1; i > 0 && backlog_.at(i - 1).endNs > c.endNs; --i) {
        std::swap(backlog_.at(i - 1), backlog_.at(i));
    }
    nextEventNs_ = std::min(nextEventNs_, c.endNs);
}

void Uart16550::setModemInputs(const ModemInputs& in, int64_t nowNs) {
    advance(nowNs);
    lineInputs_ = in;
    updateModemInputs();
}

Frame Uart16550::frame() const {
    return Frame{divisor_, static_cast<uint8_t>(lcr_ & kLcrFormat)};
}

int64_t Uart16550::characterTimeNs() const {
    return characterTimeNs_;
}

size_t Uart16550::receiveBacklog() const {
    return backlog_.size();
}

size_t Uart16550::receiveRoom() const {
    const size_t taken = rxFifo_.size() + backlog_.size();
    return taken < fifoCapacity() ? fifoCapacity() - taken : 0;
}

bool Uart16550::interruptPending(int64_t nowNs) {
    advance(nowNs);
    return interruptId() != kIirNone;
}

ModemOutputs Uart16550::modemOutputs() const {
    if (loopback()) return ModemOutputs{};
    return ModemOutputs{.rts = (mcr_ & kMcrRts) != 0, .dtr = (mcr_ & kMcrDtr) != 0};
}

// Start bit, word, parity and stop bits, each bit 16 clocks of the divided 1.8432 MHz crystal.
// Counted in half bits for the 1.5 stop bits of a 5-bit word; rounded to the nearest ns.
int64_t Uart16550::computeCharacterTimeNs() const {
    const int64_t wordBits = 5 + (lcr_ & kLcrWordLength);
    const int64_t parityBits = (lcr_ & kLcrParity) ? 1 : 0;
    int64_t stopHalfBits = 2;
    if (lcr_ & kLcrStop2) stopHalfBits = wordBits == 5 ? 3 : 4;
    const int64_t halfBits = 2 * (1 + wordBits + parityBits) + stopHalfBits;
    // A divisor of 0 counts as 65536 (the counter wraps), so time never stops.
    const int64_t divisor = divisor_ == 0 ? 65536 : divisor_;
    const int64_t numerator = halfBits * divisor * 16 * kNsPerSecond;
    const int64_t denominator = 2 * kCrystalHz;
    return (numerator + denominator / 2) / denominator;
}

void Uart16550::setDivisor(uint16_t divisor) {
    divisor_ = divisor;
    characterTimeNs_ = computeCharacterTimeNs();
}

bool Uart16550::dlab() const {
    return (lcr_ & kLcrDlab) != 0;
}
bool Uart16550::breakOn() const {
    return (lcr_ & kLcrBreak) != 0;
}
bool Uart16550::loopback() const {
    return (mcr_ & kMcrLoop) != 0;
}
uint8_t Uart16550::wordMask() const {
    return static_cast<uint8_t>(0xFF >> (3 - (lcr_ & kLcrWordLength)));
}
size_t Uart16550::fifoCapacity() const {
    return fifoEnabled_ ? kFifoSize : 1;
}

void Uart16550::writeThr(uint8_t value, int64_t nowNs) {
    thrInterrupt_ = false;
    if (!fifoEnabled_) {
        txFifo_.clear();  // the 16450's THR is simply overwritten
    } else if (txFifo_.size() == kFifoSize) {
        return;  // a full TX FIFO drops the byte
    }
    txFifo_.push(value);
    if (!tsrBusy_) loadShiftRegister(nowNs);
}

void Uart16550::writeIer(uint8_t value) {
    const bool wasThre = (ier_ & kIerThre) != 0;
    ier_ = value & kIerAll;
    if (!(ier_ & kIerThre)) {
        thrInterrupt_ = false;
    } else if (!wasThre && txFifo_.empty()) {
        // Enabling THRE while THR is empty interrupts at once; drivers rely on it to kick off
        // transmission, and Linux tests for it at start-up.
        thrInterrupt_ = true;
    }
}

void Uart16550::writeFcr(uint8_t value) {
    const bool enable = (value & kFcrEnable) != 0;
    if (enable != fifoEnabled_) {
        fifoEnabled_ = enable;
        clearRxFifo();
        clearTxFifo();
    }
    // With FCR bit 0 clear the other bits are not programmed.
    if (!enable) return;
    if (value & kFcrClearRx) clearRxFifo();
    if (value & kFcrClearTx) clearTxFifo();
    rxTrigger_ = kRxTriggerLevels[value >> 6];
}

void Uart16550::writeLcr(uint8_t value, int64_t nowNs) {
    const bool wasBreak = breakOn();
    lcr_ = value;
    characterTimeNs_ = computeCharacterTimeNs();
    if (breakOn() && !wasBreak) {
        breakSent_ = false;
        breakFrameEndNs_ = nowNs + characterTimeNs_;
    }
}

void Uart16550::writeMcr(uint8_t value, int64_t nowNs) {
    const ModemOutputs before = modemOutputs();
    mcr_ = value & kMcrMask;
    updateModemInputs();
    reportModemOutputs(before, nowNs);
}

uint8_t Uart16550::readRbr(int64_t nowNs) {
    if (rxFifo_.empty()) return rbrHold_;
    const RxChar top = rxFifo_.pop();
    if (top.errors) --rxErrorCount_;
    if (!rxFifo_.empty()) lsrErrors_ |= rxFifo_.front().errors;
    rbrHold_ = top.data;
    timeoutInterrupt_ = false;
    restartTimeout(nowNs);
    reschedule();
    return top.data;
}

uint8_t Uart16550::readIir() {
    const uint8_t id = interruptId();
    if (id == kIirThre) thrInterrupt_ = false;
    return id | (fifoEnabled_ ? kIirFifosOn : 0);
}

uint8_t Uart16550::readLsr() {
    const uint8_t value = lsrValue();
    lsrErrors_ = 0;
    if (rxErrorCount_ == 0) lsrFifoError_ = false;
    return value;
}

uint8_t Uart16550::readMsr() {
    const uint8_t value = msrInputs_ | msrDeltas_;
    msrDeltas_ = 0;
    return value;
}

uint8_t Uart16550::lsrValue() const {
    uint8_t value = lsrErrors_;
    if (!rxFifo_.empty()) value |= kLsrDr;
    if (txFifo_.empty()) value |= kLsrThre;
    if (txFifo_.empty() && !tsrBusy_) value |= kLsrTemt;
    if (fifoEnabled_ && lsrFifoError_) value |= kLsrFifoError;
    return value;
}

uint8_t Uart16550::interruptId() const {
    if ((ier_ & kIerRls) && (lsrErrors_ & kLsrErrors)) return kIirRls;
    if (ier_ & kIerRda) {
        if (rxFifo_.size() >= (fifoEnabled_ ? rxTrigger_ : 1)) return kIirRda;
        if (timeoutInterrupt_) return kIirTimeout;
    }
    if ((ier_ & kIerThre) && thrInterrupt_) return kIirThre;
    if ((ier_ & kIerMs) && msrDeltas_) return kIirMs;
    return kIirNone;
}

// THR empties the moment its byte moves into the shift register: THRE (and its interrupt) come
// at load, TEMT only when the shift register has sent the character.
void Uart16550::loadShiftRegister(int64_t atNs) {
    tsrData_ = txFifo_.pop() & wordMask();
    tsrFrame_ = frame();
    tsrEndNs_ = atNs + characterTimeNs_;
    tsrBusy_ = true;
    if (txFifo_.empty()) thrInterrupt_ = true;
}

void Uart16550::completeTransmit() {
    const Character c{.data = tsrData_, .frame = tsrFrame_, .isBreak = false, .endNs = tsrEndNs_};
    tsrBusy_ = false;
    if (!txFifo_.empty()) loadShiftRegister(c.endNs);
    // While the line is held spacing the character never makes it out.
    if (!breakOn()) emit(c);
}

void Uart16550::sendBreak() {
    breakSent_ = true;
    emit(Character{.data = 0, .frame = frame(), .isBreak = true, .endNs = breakFrameEndNs_});
}

void Uart16550::emit(const Character& c) {
    if (loopback()) {
        assemble(c);
    } else if (line_) {
        line_->transmit(c);
    }
}

void Uart16550::assemble(const Character& c) {
    RxChar in{.data = 0, .errors = kLsrBi};
    if (!c.isBreak) {
        in.data = c.data & wordMask();
        in.errors = 0;
        // Sent at another speed or format the receiver samples garbage and misses the stop bit.
        if (c.frame != frame()) {
            in.errors = kLsrFe;
        } else if (c.parityError && (lcr_ & kLcrParity)) {
            in.errors = kLsrPe;
        }
    }
    if (rxFifo_.size() == fifoCapacity()) {
        lsrErrors_ |= kLsrOe;
        // A full FIFO keeps what it holds; the 16450's RBR is overwritten.
        if (fifoEnabled_) return;
        if (rxFifo_.pop().errors) --rxErrorCount_;
    }
    rxFifo_.push(in);
    if (in.errors) {
        ++rxErrorCount_;
        lsrFifoError_ = true;
    }
    // Error bits show in LSR when their character is at the top of the FIFO.
    if (rxFifo_.size() == 1) lsrErrors_ |= in.errors;
    restartTimeout(c.endNs);
}

void Uart16550::clearRxFifo() {
    rxFifo_.clear();
    rxErrorCount_ = 0;
    lsrFifoError_ = false;
    timeoutInterrupt_ = false;
}

void Uart16550::clearTxFifo() {
    if (txFifo_.empty()) return;
    txFifo_.clear();
    thrInterrupt_ = true;
}

void Uart16550::restartTimeout(int64_t atNs) {
    timeoutDeadlineNs_ = atNs + kTimeoutCharacters * characterTimeNs_;
}

// In loopback the outputs drive the inputs inside the chip: RTS->CTS, DTR->DSR, OUT1->RI,
// OUT2->DCD. Either way a change of an input sets its delta bit; RI only on its trailing edge.
void Uart16550::updateModemInputs() {
    uint8_t bits = inputBits(lineInputs_);
    if (loopback()) {
        bits = static_cast<uint8_t>(((mcr_ & kMcrDtr) << 5) | ((mcr_ & kMcrRts) << 3) |
                                    ((mcr_ & (kMcrOut1 | kMcrOut2)) << 4));
    }
    const uint8_t changed = bits ^ msrInputs_;
    if (changed & kMsrCts) msrDeltas_ |= kMsrDcts;
    if (changed & kMsrDsr) msrDeltas_ |= kMsrDdsr;
    if ((changed & kMsrRi) && !(bits & kMsrRi)) msrDeltas_ |= kMsrTeri;
    if (changed & kMsrDcd) msrDeltas_ |= kMsrDdcd;
    msrInputs_ = bits;
}

void Uart16550::reportModemOutputs(const ModemOutputs& before, int64_t nowNs) {
    const ModemOutputs now = modemOutputs();
    if (line_ && now != before) line_->modemOutputsChanged(now, nowNs);
}

}  // namespace sim
