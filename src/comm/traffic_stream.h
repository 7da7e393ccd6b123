#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace comm {

// One entry of an open port's traffic, in the order it happened. Eight bytes, so that a fast
// line's traffic costs half the copying and memory: 48 bits of microseconds reach 4 years of
// the steady clock, which counts from the machine's start.
struct TrafficEntry {
    int64_t timeUs : 48 = 0;  // steady clock (std::chrono::steady_clock), microseconds
    uint64_t value : 8 = 0;   // the data byte (0 for a mark)
    uint64_t flags : 8 = 0;   // TrafficFlag bits
};
static_assert(sizeof(TrafficEntry) == 8);

enum TrafficFlag : uint8_t {
    kTrafficSent = 0x01,           // sent by the program; otherwise received
    kTrafficParityError = 0x02,    // this received byte had a parity error
    kTrafficFramingError = 0x04,   // this received byte had a framing error
    kTrafficBreak = 0x08,          // mark: a break on the line at this point (not a data byte)
    kTrafficOverrun = 0x10,        // mark: bytes lost in the UART (overrun) at this point
    kTrafficQueueOverflow = 0x20,  // mark: the input queue overflowed here, bytes lost
    kTrafficUnplaced = 0x40,  // the error's exact byte is unknown (RFC 2217 line state): marked
                              // where it arrived
};

// A mark is an entry that stands for an event, not a data byte: a break, an overrun, a queue
// overflow, or an error whose byte is unknown (kTrafficUnplaced, with its error bits).
bool isTrafficMark(const TrafficEntry& e);

// The steady clock in microseconds, the time base of every entry.
int64_t trafficClockUs();

// What one port received and sent, in order: a bounded ring written by the backends and the
// component (any thread) and read by any number of readers (the data view, a session log, later a
// timeline), each with its own position. A reader that falls behind loses the oldest entries and
// is told how many; writing never waits for a reader.
//
// Entries are numbered from 0 at the opening on. One short lock guards the ring: a writer holds
// it for a copy of its own entries, a reader for a copy of at most `max` entries, so neither
// reception nor the 1 ms poll waits for more than a memcpy.
class TrafficStream {
public:
    explicit TrafficStream(size_t capacity = 2u << 20);
    TrafficStream(const TrafficStream&) = delete;
    TrafficStream& operator=(const TrafficStream&) = delete;

    void append(const TrafficEntry* entries, size_t count);  // thread-safe
    // Bytes that all happened now, with the same flags (kTrafficSent, error bits).
    void appendBytes(const uint8_t* bytes, size_t count, uint8_t flags);
    // A mark (kTrafficBreak, kTrafficOverrun, kTrafficQueueOverflow, with kTrafficUnplaced) now.
    void appendMark(uint8_t flags);

    struct ReadResult {
        size_t count = 0;
        uint64_t dropped = 0;
        uint64_t next = 0;
    };
    // Copies up to max entries from sequence number `from` on; if the oldest kept entry is
    // newer than `from`, `dropped` says how many were lost and reading starts at the oldest kept.
    ReadResult read(uint64_t from, TrafficEntry* out, size_t max) const;
    uint64_t end() const;  // sequence number after the newest entry
    // Blocks until entries after `from` exist, or timeoutMs passes, or wake() is called.
    // Returns whether entries after `from` exist.
    bool waitBeyond(uint64_t from, int timeoutMs) const;
    void wake();

    size_t capacity() const { return capacity_; }
    int64_t openedAtUs() const { return openedAtUs_; }          // steady-clock time of the opening
    int64_t openedAtWallUs() const { return openedAtWallUs_; }  // wall clock (µs since the epoch)

private:
    struct FreeStorage {
        void operator()(TrafficEntry* p) const;
    };

    const size_t capacity_;
    // Zeroed pages from the system: a port that sees little traffic costs little memory.
    const std::unique_ptr<TrafficEntry[], FreeStorage> ring_;
    const int64_t openedAtUs_;
    const int64_t openedAtWallUs_;

    mutable std::mutex lock_;
    mutable std::condition_variable grown_;
    uint64_t end_ = 0;
    uint64_t wakeups_ = 0;
};

}  // namespace comm
