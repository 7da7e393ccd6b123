#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "sim/serial_line.h"
#include "uart/registers.h"

namespace sim {

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
    // How many characters receive() holds before assembly; a wire must not run further ahead
    // (characters beyond it are dropped).
    static constexpr size_t kReceiveBacklogCapacity = 1024;

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
    // Characters receive() may still be handed without an overrun: the free places of the
    // FIFO (of RBR in 16450 mode) that the backlog has not spoken for.
    size_t receiveRoom() const;
    // The INTRPT pin (before the PC's OUT2 gate): an enabled interrupt is pending.
    bool interruptPending(int64_t nowNs);
    ModemOutputs modemOutputs() const;
    // Earliest time at which advance() has something to do; INT64_MAX when idle.
    int64_t nextEventNs() const { return nextEventNs_; }
    // A read of RBR now would take a received byte, as of the last advance().
    bool rbrReadTakesByte() const;

    Uart16550(const Uart16550&) = delete;
    Uart16550& operator=(const Uart16550&) = delete;

private:
    // Fixed-size ring buffer; N is a power of two so wrapping is a mask.
    template <typename T, size_t N>
    class Ring {
    public:
        static_assert((N & (N - 1)) == 0);
        size_t size() const { return count_; }
        bool empty() const { return count_ == 0; }
        T& at(size_t i) { return items_[(head_ + i) & (N - 1)]; }
        T& front() { return at(0); }
        void push(const T& v) { items_[(head_ + count_++) & (N - 1)] = v; }
        T pop() {
            T v = items_[head_];
            head_ = (head_ + 1) & (N - 1);
            --count_;
            return v;
        }
        void clear() { head_ = count_ = 0; }

    private:
        std::array<T, N> items_{};
        size_t head_ = 0;
        size_t count_ = 0;
    };

    struct RxChar {
        uint8_t data;
        uint8_t errors;  // LSR PE/FE/BI bits that belong to this character
    };

    static constexpr size_t kFifoSize = 16;

    void resetRegisters();
    void runUntil(int64_t nowNs);
    void reschedule();
    int64_t computeCharacterTimeNs() const;
    void setDivisor(uint16_t divisor);
    bool dlab() const;
    bool breakOn() const;
    bool loopback() const;
    uint8_t wordMask() const;
    // Non-FIFO mode is the 16450: one-byte THR and RBR.
    size_t fifoCapacity() const;

    void writeThr(uint8_t value, int64_t nowNs);
    void writeIer(uint8_t value);
    void writeFcr(uint8_t value);
    void writeLcr(uint8_t value, int64_t nowNs);
    void writeMcr(uint8_t value, int64_t nowNs);
    uint8_t readRbr(int64_t nowNs);
    uint8_t readIir();
    uint8_t readLsr();
    uint8_t readMsr();
    uint8_t lsrValue() const;
    uint8_t interruptId() const;

    void loadShiftRegister(int64_t atNs);
    void completeTransmit();
    void sendBreak();
    // A finished character or break frame leaves the TX pin: to the line, or back to our own
    // receiver in loopback.
    void emit(const Character& c);
    void assemble(const Character& c);
    void clearRxFifo();
    void clearTxFifo();
    void restartTimeout(int64_t atNs);
    void updateModemInputs();
    void reportModemOutputs(const ModemOutputs& before, int64_t nowNs);

    // Visible registers. IIR and LSR are computed from the state below.
    uint16_t divisor_ = 12;
    uint8_t ier_ = 0;
    uint8_t lcr_ = 0;
    uint8_t mcr_ = 0;
    uint8_t scr_ = 0;
    uint8_t msrInputs_ = 0;  // MSR bits 4-7 as last seen; their changes make the deltas
    uint8_t msrDeltas_ = 0;  // MSR bits 0-3
    bool fifoEnabled_ = false;
    size_t rxTrigger_ = 1;
    uint8_t lsrErrors_ = 0;      // sticky OE/PE/FE/BI until LSR is read
    bool lsrFifoError_ = false;  // LSR bit 7: an error character entered the FIFO

    // Hidden interrupt state: THRE is an event (cleared by reading IIR), the time-out a timer.
    bool thrInterrupt_ = false;
    bool timeoutInterrupt_ = false;
    int64_t timeoutDeadlineNs_ = 0;

    int64_t characterTimeNs_ = 0;  // of the current frame, kept up to date by LCR/DLL/DLM

    // Transmitter: THR or TX FIFO, then the shift register busy until tsrEndNs_.
    Ring<uint8_t, kFifoSize> txFifo_;
    bool tsrBusy_ = false;
    uint8_t tsrData_ = 0;
    Frame tsrFrame_;
    int64_t tsrEndNs_ = 0;
    bool breakSent_ = false;  // the far end has had its one break character for this break
    int64_t breakFrameEndNs_ = 0;

    // Receiver: RBR or RX FIFO, and characters on the wire not yet complete.
    Ring<RxChar, kFifoSize> rxFifo_;
    size_t rxErrorCount_ = 0;  // characters in the FIFO with an error bit
    uint8_t rbrHold_ = 0;      // what an empty RBR reads: the last character read
    Ring<Character, kReceiveBacklogCapacity> backlog_;

    ModemInputs lineInputs_;
    SerialLine* line_ = nullptr;
    int64_t nextEventNs_ = std::numeric_limits<int64_t>::max();
};

}  // namespace sim
