#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "comm/traffic_stream.h"

namespace timeline {

// What the recorder keeps a history of. The eight registers of the watched block come from the
// monitor's poll; the rest from the open port of the terminal page.
enum Signal : uint8_t {
    kRegister0 = 0,  // + offset, up to kRegister0 + 7
    kPortCts = 8,
    kPortDsr,
    kPortRlsd,
    kPortRing,
    kPortRts,  // as the program sets it
    kPortDtr,
    kPortReceived,  // data bytes: value = the byte, flags = comm::TrafficFlag bits
    kPortSent,
    kPortLineEvents,  // breaks and errors: value = comm::TrafficFlag bits of the event
    kSignalCount
};

// How a signal's records are read: a level holds until its next record; an event (a data byte,
// a break, an error) happens at its instant and nothing holds between events.
enum class SignalKind { Level, Event };
SignalKind signalKind(Signal signal);

// One record: the time, microseconds since the recorder began, and the value from then on.
struct Record {
    int64_t timeUs = 0;
    uint8_t value = 0;
    uint8_t flags = 0;
};

// The history of every signal, bounded: each signal has a ring of its own, in time order, so
// the value of a signal at any time, its next and previous change and the changes inside a
// pixel column are binary searches, however long the recording. A full ring drops its oldest
// records. A record takes 8 bytes and the rings are zeroed pages from the system, so memory
// grows only with what is recorded (the capacities and bound are in recorder.cpp).
//
// Not thread-safe: the owner (the GUI thread, where the poll ticks) records and reads.
// Times stay in order per signal: a record older than its signal's last is moved up to it, and
// events of one signal (bytes read in one batch share a time) are kept at least 1 µs apart, so
// every event has an instant of its own in an export.
class Recorder {
public:
    using Clock = std::function<int64_t()>;  // microseconds, the traffic stream's steady clock

    // capacityDivisor divides every ring's capacity (tests use small rings to fill them).
    explicit Recorder(Clock clock = comm::trafficClockUs, size_t capacityDivisor = 1);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // From one tick of the poll: the registers whose bit changed in `changed` (bit N = offset
    // N), all stamped with the one time of the tick.
    void recordRegisters(const std::array<uint8_t, 8>& values, uint8_t changed);
    // A level of the port (kPortCts to kPortDtr) at a time of the steady clock; a level equal
    // to the last one recorded is not a change and is dropped.
    void recordLevel(Signal signal, int64_t steadyUs, bool level);
    // Entries of the port's traffic stream: data bytes and marks.
    void recordTraffic(const comm::TrafficEntry* entries, size_t count);

    // Paused, nothing is recorded; the history stays.
    void setPaused(bool paused) { paused_ = paused; }
    bool paused() const { return paused_; }
    // Forgets every record; the time base stays.
    void clear();

    int64_t nowUs() const;  // the clock, as a recording time
    int64_t startUs() const { return startSteadyUs_; }
    // The wall-clock time (µs since the epoch) of recording time 0.
    int64_t startWallUs() const { return startWallUs_; }

    // Reading one signal: records are numbered 0 (oldest kept) to size - 1.
    size_t size(Signal signal) const;
    size_t capacity(Signal signal) const;
    Record at(Signal signal, size_t index) const;
    // The index of the first record at or after timeUs (size when none).
    size_t lowerBound(Signal signal, int64_t timeUs) const;
    // The number of the oldest record held, counting every record the signal ever had: those
    // before it were pushed out of the full ring or cleared.
    uint64_t firstSequence(Signal signal) const;
    // What happened among records lo to hi - 1: for a level the bits that changed at them (each
    // against the record before), for an event the bits of their values. A pixel column needs
    // no more than this, and the rings keep it per block of records, so it costs little however
    // many records the column spans.
    uint8_t activity(Signal signal, size_t lo, size_t hi) const;
    // The time of the newest record of any signal (0 when there is none).
    int64_t lastTimeUs() const;
    // The time of the oldest record still held (0 when there is none).
    int64_t firstTimeUs() const;
    // The bytes the rings take now, for the memory figure.
    size_t usedBytes() const;

private:
    class Ring;
    void append(Signal signal, int64_t timeUs, uint8_t value, uint8_t flags);

    Clock clock_;
    int64_t startSteadyUs_;
    int64_t startWallUs_;
    bool paused_ = false;
    std::array<std::unique_ptr<Ring>, kSignalCount> rings_;
};

}  // namespace timeline
