#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "timeline/recorder.h"

namespace timeline {

// Where a lane's signal comes from: the block the monitor watches, or the terminal's port.
enum class Scope { Block, Port };

// One row of the timeline and one variable of an export: a bit of a signal, or its whole byte.
struct Lane {
    std::string name;  // unique, also the key the window's settings keep; no spaces
    Scope scope = Scope::Block;
    Signal signal = kRegister0;
    uint8_t mask = 0xFF;  // one bit: a bit lane; 0xFF: a value lane

    bool isBit() const { return mask != 0xFF; }
    // The lane's value in a record of its signal: 0/1 for a bit lane, the byte otherwise.
    uint8_t valueOf(uint8_t signalValue) const {
        return isBit() ? (signalValue & mask) != 0 : signalValue;
    }
};

// Every lane there is: for a UART the named bits of IER, IIR's interrupt identification, LCR,
// MCR, LSR and MSR and the eight registers as values; for another block the eight registers
// and their 64 bits; then the port's lines, its data (received, sent) and its line events.
std::vector<Lane> allLanes(bool uartBlock);
// The MSR lines, RTS/DTR in MCR and as the program sets them, the data, the LSR errors and the
// port's line events.
std::vector<std::string> defaultLaneNames();
// The lanes of `names` that exist, in that order.
std::vector<Lane> lanesNamed(const std::vector<std::string>& names, bool uartBlock);

// The lane's value at timeUs and whether it is known: a level is known from its first record
// on; an event lane is 0 between events, and at an event's instant shows it.
struct LaneValue {
    bool known = false;
    uint8_t value = 0;
};
LaneValue laneValueAt(const Recorder& recorder, const Lane& lane, int64_t timeUs);

// The index of the next record after timeUs (forward) or the last before it (backward) at which
// the lane's value changes, or -1 (for an event lane every event counts).
int64_t laneChangeTime(const Recorder& recorder, const Lane& lane, int64_t timeUs, bool forward);

}  // namespace timeline
