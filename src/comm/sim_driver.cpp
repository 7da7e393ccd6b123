// The simulated serial driver: a UART of the simulated PC driven the way a PC's serial driver
// drives its 16550, so that the register monitor shows what it would show on a real PC.
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "comm/comm_os.h"
#include "comm/driver_core.h"
#include "sim/simulated_pc.h"
#include "uart/registers.h"

namespace comm {

namespace {

using namespace uart;

// FIFOs on and cleared, receiver trigger at 8 bytes as PC drivers program a 16550A.
constexpr uint8_t kFcrOn = kFcrEnable | kFcrClearRx | kFcrClearTx | kFcrTrigger8;
constexpr size_t kTxFifo = 16;
constexpr size_t kRxFifo = 16;
// A driver services one interrupt until the UART has nothing more to say; this bounds a pass
// in case another program keeps reading the same registers under it.
constexpr int kMaxServiceRounds = 64;
constexpr double kClockHz = 115200.0;  // 1.8432 MHz / 16
constexpr std::chrono::seconds kIdleWait{1};

std::mutex claimsLock;
std::set<std::pair<const sim::SimulatedPc*, int>> claims;
std::atomic<intptr_t> nextHandle{0x10000};

class SimPort final : public OsPort {
public:
    SimPort(sim::SimulatedPc& pc, int com);
    ~SimPort() override;

    intptr_t handle() const override { return handle_; }
    bool isCharacterDevice() const override { return true; }
    void close() override;

    int setupComm(uint32_t inQueue, uint32_t outQueue) override;
    int getCommState(Dcb& dcb) override;
    int setCommState(const Dcb& dcb) override;
    int setReadsReturnAtOnce() override { return closed_ ? EBADF : 0; }
    int setCommMask(uint32_t mask) override;
    Wait waitCommEvent(uint32_t& events, int& error) override;
    void cancelWait() override;
    int clearCommError(uint32_t& errors, ComStat& stat) override;
    int purgeComm(uint32_t flags) override;
    Transfer read(uint8_t* buffer, int32_t count, int32_t timeoutMs) override;
    Transfer write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) override;
    int escapeCommFunction(uint32_t code) override;
    int getCommModemStatus(uint32_t& status) override;
    int getProviderSubType(int32_t& type) override;
    int getActualBaudRate(uint32_t& bitsPerSecond) override;

private:
    uint8_t in(uint8_t offset) { return pc_.in(static_cast<uint16_t>(base_ + offset)); }
    void out(uint8_t offset, uint8_t value) {
        pc_.out(static_cast<uint16_t>(base_ + offset), value);
    }
    // The interrupt service routine and its parts; all run under state_.
    void interruptThread();
    void service();
    void noteLineStatus(uint8_t lsr);
    void receiveAll(uint8_t lsr);
    void record(uint8_t byte, uint8_t lsr);
    void markOverrun();
    void store(uint8_t byte);
    void releaseReceiver();
    void transmit();
    void noteModemStatus(uint8_t msr);

    sim::SimulatedPc& pc_;
    const int com_;
    const uint16_t base_;
    const intptr_t handle_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> stopping_{false};
    std::thread isr_;

    std::mutex state_;
    std::condition_variable changed_;
    bool cancelled_ = false;
    DriverCore core_;
    std::deque<uint8_t> output_;
    bool transmitting_ = false;  // bytes went into THR and its empty interrupt is still due
    bool txEmptyOwed_ = false;   // data was sent since the last EV_TXEMPTY
    bool heldByXoff_ = false;
    bool receiverHeld_ = false;     // the input queue is full: what arrives waits in the UART
    uint8_t lcr_ = kLcrWordLength;  // 8 data bits, no parity, 1 stop bit
    uint16_t divisor_ = 12;
    // Error bits of the byte at the top of the FIFO, read from LSR (which clears them) while the
    // byte had to stay there for want of room in the input queue.
    uint8_t heldByteErrors_ = 0;
    // An overrun loses the byte after a full FIFO: the bytes still to be read before the gap.
    size_t bytesBeforeOverrun_ = 0;
    uint8_t mcr_ = kMcrDtr | kMcrRts | kMcrOut2;
    uint8_t msr_ = 0;
};

SimPort::SimPort(sim::SimulatedPc& pc, int com)
    : pc_(pc), com_(com), base_(kComBase[com - 1]), handle_(nextHandle++) {
    out(reg::kIerDlm, 0);
    out(reg::kIirFcr, kFcrOn);
    // What the UART held from before is not ours: stale status and data are read away.
    in(reg::kLsr);
    in(reg::kRbrThrDll);
    in(reg::kIirFcr);
    msr_ = in(reg::kMsr);
    setCommState(Dcb(core_.dcb()));
    out(reg::kMcr, mcr_);
    out(reg::kIerDlm, kIerAll);
    isr_ = std::thread([this] { interruptThread(); });
}

SimPort::~SimPort() {
    close();
}

void SimPort::close() {
    if (closed_.exchange(true)) return;
    stopping_ = true;
    pc_.wakeInterruptWaiters();
    isr_.join();
    {
        std::lock_guard guard(state_);
        // As a driver's close: interrupts off, DTR, RTS and OUT2 dropped, no break left on.
        out(reg::kIerDlm, 0);
        out(reg::kMcr, 0);
        lcr_ &= static_cast<uint8_t>(~kLcrBreak);
        out(reg::kLcr, lcr_);
        changed_.notify_all();
    }
    std::lock_guard guard(claimsLock);
    claims.erase({&pc_, com_});
}

void SimPort::interruptThread() {
    while (!stopping_) {
        const bool raised =
            pc_.waitForInterrupt(com_, kIdleWait, [this] { return stopping_.load(); });
        if (!raised || stopping_) continue;
        std::lock_guard guard(state_);
        service();
        changed_.notify_all();
    }
}

void SimPort::service() {
    for (int round = 0; round < kMaxServiceRounds; ++round) {
        const uint8_t iir = in(reg::kIirFcr);
        if (iir & kIirNone) return;
        switch (iir & kIirIdMask) {
            case kIirRls:
            case kIirRda:
            case kIirTimeout:
                receiveAll(in(reg::kLsr));
                break;
            case kIirThre:
                transmitting_ = false;
                transmit();
                break;
            case kIirMs:
                noteModemStatus(in(reg::kMsr));
                break;
            default:
                return;
        }
    }
}

void SimPort::noteLineStatus(uint8_t lsr) {
    uint32_t errors = 0;
    if (lsr & kLsrOe) errors |= CE_OVERRUN;
    if (lsr & kLsrPe) errors |= CE_RXPARITY;
    if (lsr & kLsrFe) errors |= CE_FRAME;
    if (lsr & kLsrBi) errors |= CE_BREAK;
    core_.reportErrors(errors);
}

// Reading LSR clears its error bits, which belong to the byte at the top of the FIFO: each
// LSR value read is used for the byte that follows it, never read twice.
void SimPort::receiveAll(uint8_t lsr) {
    for (;;) {
        noteLineStatus(lsr);
        // The FIFO was full when the byte was lost, and nothing has been read since.
        if ((lsr & kLsrOe) && bytesBeforeOverrun_ == 0) bytesBeforeOverrun_ = kRxFifo;
        if (!(lsr & kLsrDr)) {
            markOverrun();
            return;
        }
        // With its queue full the driver leaves the bytes in the UART and stops their
        // interrupt until the program reads: a pseudo-terminal's wire then waits, a cable's
        // partner overruns the FIFO, and nothing already taken is thrown away.
        if (core_.full()) {
            heldByteErrors_ |= lsr & (kLsrPe | kLsrFe | kLsrBi);
            if (!std::exchange(receiverHeld_, true)) out(reg::kIerDlm, kIerAll & ~kIerRda);
            return;
        }
        const uint8_t byte = in(reg::kRbrThrDll);
        const uint8_t status = lsr | std::exchange(heldByteErrors_, 0);
        record(byte, status);
        // A break arrives as a null character with BI; it is the event, not data.
        if (!(status & kLsrBi)) store(byte);
        lsr = in(reg::kLsr);
    }
}

// Every byte the UART delivers goes into the traffic stream, XON, XOFF and nulls included,
// with the errors LSR gave for it.
void SimPort::record(uint8_t byte, uint8_t lsr) {
    if (lsr & kLsrBi) {
        traffic()->appendMark(kTrafficBreak);
    } else {
        const auto flags = static_cast<uint8_t>(((lsr & kLsrPe) ? kTrafficParityError : 0) |
                                                ((lsr & kLsrFe) ? kTrafficFramingError : 0));
        traffic()->appendBytes(&byte, 1, flags);
    }
    if (bytesBeforeOverrun_ > 0 && --bytesBeforeOverrun_ == 0)
        traffic()->appendMark(kTrafficOverrun);
}

// The FIFO ran empty before the count of bytes ahead of the gap (a purge, or the register
// monitor reading RBR): the gap is here.
void SimPort::markOverrun() {
    if (bytesBeforeOverrun_ == 0) return;
    bytesBeforeOverrun_ = 0;
    traffic()->appendMark(kTrafficOverrun);
}

void SimPort::store(uint8_t byte) {
    const Dcb& dcb = core_.dcb();
    if (dcb.Flags & kDcbOutX) {
        if (byte == static_cast<uint8_t>(dcb.XoffChar)) {
            heldByXoff_ = true;
            return;
        }
        if (byte == static_cast<uint8_t>(dcb.XonChar)) {
            heldByXoff_ = false;
            transmit();
            return;
        }
    }
    if ((dcb.Flags & kDcbNull) && byte == 0) return;
    core_.receive(&byte, 1);
}

void SimPort::releaseReceiver() {
    if (!receiverHeld_ || core_.full()) return;
    receiverHeld_ = false;
    out(reg::kIerDlm, kIerAll);
}

// Fills the transmitter FIFO while THR is empty; the THR-empty interrupt after the last byte
// is the EV_TXEMPTY of the output queue.
void SimPort::transmit() {
    if (transmitting_) return;
    const bool ctsHeld = (core_.dcb().Flags & kDcbOutxCtsFlow) && !(msr_ & kMsrCts);
    if (output_.empty() || heldByXoff_ || ctsHeld) {
        if (output_.empty() && txEmptyOwed_) {
            txEmptyOwed_ = false;
            core_.raise(EV_TXEMPTY);
        }
        return;
    }
    for (size_t n = 0; n < kTxFifo && !output_.empty(); ++n) {
        out(reg::kRbrThrDll, output_.front());
        output_.pop_front();
    }
    transmitting_ = true;
    txEmptyOwed_ = true;
}

void SimPort::noteModemStatus(uint8_t msr) {
    if (msr & kMsrDcts) core_.raise(EV_CTS);
    if (msr & kMsrDdsr) core_.raise(EV_DSR);
    if (msr & kMsrTeri) core_.raise(EV_RING);
    if (msr & kMsrDdcd) core_.raise(EV_RLSD);
    const bool ctsRose = !(msr_ & kMsrCts) && (msr & kMsrCts);
    msr_ = msr;
    if (ctsRose) transmit();
}

int SimPort::setupComm(uint32_t inQueue, uint32_t) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    core_.setCapacity(inQueue);
    releaseReceiver();
    return 0;
}

int SimPort::getCommState(Dcb& dcb) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    dcb = core_.dcb();
    return 0;
}

// The divisor must give the rate within 3 %, as a PC driver demands: 56000 runs at 57600,
// 128000 and 256000 are beyond a PC UART's 115200.
int SimPort::setCommState(const Dcb& dcb) {
    if (!frameValid(dcb)) return EINVAL;
    const double exact = kClockHz / dcb.BaudRate;
    const double divisor = std::round(exact);
    if (divisor < 1 || divisor > 65535 ||
        std::fabs(kClockHz / divisor - dcb.BaudRate) > kMaxRateError * dcb.BaudRate)
        return EINVAL;
    if (closed_) return EBADF;
    // None, odd, even, mark, space.
    static constexpr uint8_t kParityBits[] = {0, kLcrParity, kLcrParity | kLcrEvenParity,
                                              kLcrParity | kLcrStickParity,
                                              kLcrParity | kLcrEvenParity | kLcrStickParity};
    std::lock_guard guard(state_);
    uint8_t lcr =
        static_cast<uint8_t>((dcb.ByteSize - 5) | kParityBits[dcb.Parity] | (lcr_ & kLcrBreak));
    // One stop-bit switch: 1.5 stop bits with 5-bit words, 2 otherwise.
    if (dcb.StopBits != 0) lcr |= kLcrStop2;
    const auto latch = static_cast<uint16_t>(divisor);
    out(reg::kLcr, lcr | kLcrDlab);
    out(reg::kRbrThrDll, static_cast<uint8_t>(latch & 0xFF));
    out(reg::kIerDlm, static_cast<uint8_t>(latch >> 8));
    out(reg::kLcr, lcr);
    lcr_ = lcr;
    divisor_ = latch;
    const uint32_t dtrControl = dcb.Flags & kDcbDtrControlMask;
    const uint32_t rtsControl = dcb.Flags & kDcbRtsControlMask;
    mcr_ = static_cast<uint8_t>((mcr_ & ~(kMcrDtr | kMcrRts)) | (dtrControl ? kMcrDtr : 0) |
                                (rtsControl ? kMcrRts : 0));
    out(reg::kMcr, mcr_);
    core_.setDcb(dcb);
    return 0;
}

int SimPort::setCommMask(uint32_t mask) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    core_.setMask(mask);
    return 0;
}

OsPort::Wait SimPort::waitCommEvent(uint32_t& events, int& error) {
    std::unique_lock guard(state_);
    if (!core_.waitable()) {
        error = EINVAL;
        return Wait::kFailed;
    }
    changed_.wait(guard, [this] { return cancelled_ || closed_ || core_.eventsPending(); });
    if (cancelled_) return Wait::kCancelled;
    if (closed_) {
        error = EBADF;
        return Wait::kFailed;
    }
    events = core_.takeEvents();
    return Wait::kEvent;
}

void SimPort::cancelWait() {
    std::lock_guard guard(state_);
    cancelled_ = true;
    changed_.notify_all();
}

int SimPort::clearCommError(uint32_t& errors, ComStat& stat) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    errors = core_.takeErrors();
    stat.cbInQue = static_cast<uint32_t>(core_.queued());
    stat.cbOutQue = static_cast<uint32_t>(output_.size());
    return 0;
}

int SimPort::purgeComm(uint32_t flags) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    uint8_t fcr = kFcrOn & ~(kFcrClearRx | kFcrClearTx);
    if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
        core_.clearInput();
        fcr |= kFcrClearRx;
        releaseReceiver();
    }
    if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
        output_.clear();
        fcr |= kFcrClearTx;
    }
    out(reg::kIirFcr, fcr);
    changed_.notify_all();
    return 0;
}

OsPort::Transfer SimPort::read(uint8_t* buffer, int32_t count, int32_t) {
    if (closed_) return Transfer{Transfer::kFailed, 0, EBADF};
    std::lock_guard guard(state_);
    const size_t n = core_.take(buffer, static_cast<size_t>(count));
    releaseReceiver();
    return Transfer{Transfer::kDone, static_cast<int32_t>(n), 0};
}

// Complete when every byte is in the UART; on a time-out the bytes not yet there are taken
// back, so nothing of the caller's write is left to go out later.
OsPort::Transfer SimPort::write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) {
    if (closed_) return Transfer{Transfer::kFailed, 0, EBADF};
    std::unique_lock guard(state_);
    output_.insert(output_.end(), buffer, buffer + count);
    transmit();
    const bool done =
        changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                          [this] { return output_.empty() || closed_; });
    if (closed_) return Transfer{Transfer::kFailed, 0, EBADF};
    if (!done) {
        // What reached the UART goes out all the same, and is counted as sent.
        const auto taken = static_cast<int32_t>(count - static_cast<int32_t>(output_.size()));
        output_.clear();
        return Transfer{Transfer::kTimedOut, taken, 0};
    }
    return Transfer{Transfer::kDone, count, 0};
}

int SimPort::escapeCommFunction(uint32_t code) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    switch (code) {
        case SETXOFF:
            heldByXoff_ = true;
            return 0;
        case SETXON:
            heldByXoff_ = false;
            transmit();
            return 0;
        case SETRTS:
        case CLRRTS:
        case SETDTR:
        case CLRDTR: {
            const uint8_t bit = (code == SETRTS || code == CLRRTS) ? kMcrRts : kMcrDtr;
            mcr_ = (code == SETRTS || code == SETDTR) ? (mcr_ | bit) : (mcr_ & ~bit);
            out(reg::kMcr, mcr_);
            return 0;
        }
        case SETBREAK:
        case CLRBREAK:
            lcr_ = code == SETBREAK ? (lcr_ | kLcrBreak) : (lcr_ & ~kLcrBreak);
            out(reg::kLcr, lcr_);
            return 0;
        default:
            return EINVAL;
    }
}

// Reading MSR clears its delta bits, so they are turned into events here, as the interrupt
// routine would have.
int SimPort::getCommModemStatus(uint32_t& status) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    noteModemStatus(in(reg::kMsr));
    changed_.notify_all();
    status = msr_ & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return 0;
}

int SimPort::getProviderSubType(int32_t& type) {
    if (closed_) return EBADF;
    type = PST_RS232;
    return 0;
}

// The rate the divisor gives, which is what the line runs at: 56000 asked runs at 57600.
int SimPort::getActualBaudRate(uint32_t& bitsPerSecond) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    bitsPerSecond = static_cast<uint32_t>(std::lround(kClockHz / divisor_));
    return 0;
}

}  // namespace

std::shared_ptr<OsPort> openSimulatedPort(sim::SimulatedPc& pc, int com, int& error) {
    if (com < 1 || com > 4) {
        error = ENOENT;
        return nullptr;
    }
    {
        std::lock_guard guard(claimsLock);
        if (!claims.insert({&pc, com}).second) {
            error = EBUSY;
            return nullptr;
        }
    }
    return std::make_shared<SimPort>(pc, com);
}

}  // namespace comm
