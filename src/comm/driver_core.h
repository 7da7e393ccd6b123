#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "comm/comm.h"

namespace comm {

// What a serial driver keeps for a port whatever the device under it: the input queue and its
// capacity, the events the program waits for and those that came meanwhile, the error flags
// ClearCommError hands out, and the settings with their event character. A backend only moves
// bytes and line states in and out; it holds its own lock around every call.
class DriverCore {
public:
    DriverCore();

    // SetupComm's input queue size; a size of 0 still holds one byte.
    void setCapacity(uint32_t inQueue) { capacity_ = inQueue == 0 ? 1 : inQueue; }
    size_t queued() const { return input_.size(); }
    size_t room() const { return input_.size() < capacity_ ? capacity_ - input_.size() : 0; }
    bool full() const { return room() == 0; }

    // The settings as last set; the device may know only part of them.
    const Dcb& dcb() const { return dcb_; }
    void setDcb(const Dcb& dcb) { dcb_ = dcb; }

    // SetCommMask: events of the old mask that nobody took are forgotten.
    void setMask(uint32_t mask);
    // A wait without a mask fails at once.
    bool waitable() const { return mask_ != 0; }
    uint32_t mask() const { return mask_; }
    // Events outside the mask are not kept.
    void raise(uint32_t events) { pending_ |= events & mask_; }
    bool eventsPending() const { return pending_ != 0; }
    uint32_t takeEvents();

    // Bytes that arrived, at most room() of them: EV_RXCHAR, and EV_RXFLAG when the event
    // character is among them.
    void receive(const uint8_t* bytes, size_t count);
    // Copies up to count bytes out of the queue and erases them.
    size_t take(uint8_t* buffer, size_t count);
    void clearInput() { input_.clear(); }

    // Line errors as CE_ flags: a break is EV_BREAK, every other error EV_ERR.
    void reportErrors(uint32_t errors);
    uint32_t takeErrors();

private:
    std::deque<uint8_t> input_;
    size_t capacity_ = 4096;
    uint32_t mask_ = 0;
    uint32_t pending_ = 0;
    uint32_t errors_ = 0;
    Dcb dcb_;
};

}  // namespace comm
