#include "timeline/recorder.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <new>
#include <vector>

namespace timeline {

namespace {

// Ring capacities, in records of 8 bytes. A register ring takes one change a tick for 70
// minutes (32 MiB), so an hour of a storm that changes every register on every tick fits; a
// data ring holds 4 Mi bytes of traffic (about six minutes of a saturated 115200 bit/s line,
// days of a terminal session); line levels and events change far less often. All rings full:
// 10 x 32 MiB + 6 x 512 KiB + 8 MiB, so the recording never takes more than 331 MiB.
constexpr size_t kRegisterCapacity = size_t{1} << 22;
constexpr size_t kDataCapacity = size_t{1} << 22;
constexpr size_t kLevelCapacity = size_t{1} << 16;
constexpr size_t kLineEventCapacity = size_t{1} << 20;

size_t defaultCapacity(Signal signal) {
    if (signal < kPortCts) return kRegisterCapacity;
    if (signal == kPortReceived || signal == kPortSent) return kDataCapacity;
    if (signal == kPortLineEvents) return kLineEventCapacity;
    return kLevelCapacity;
}

int64_t wallClockUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

SignalKind signalKind(Signal signal) {
    return signal >= kPortReceived ? SignalKind::Event : SignalKind::Level;
}

// A record packed into 64 bits: time (48 bits, nine years of microseconds), value, flags. The
// packed numbers sort as their times do, so a time search compares them directly.
class Recorder::Ring {
public:
    Ring(size_t capacity, bool level)
        : capacity_(std::bit_ceil(std::max<size_t>(capacity, kBigBlock))),
          level_(level),
          slots_(static_cast<uint64_t*>(std::calloc(capacity_, sizeof(uint64_t)))),
          small_(capacity_ / kSmallBlock),
          big_(capacity_ / kBigBlock) {
        if (!slots_) throw std::bad_alloc();
    }

    static uint64_t pack(int64_t timeUs, uint8_t value, uint8_t flags) {
        return static_cast<uint64_t>(timeUs) << 16 | uint64_t{value} << 8 | flags;
    }
    static Record unpack(uint64_t packed) {
        return {static_cast<int64_t>(packed >> 16), static_cast<uint8_t>(packed >> 8),
                static_cast<uint8_t>(packed)};
    }

    void push(uint64_t packed) {
        const size_t slot = (begin_ + size_) & (capacity_ - 1);
        const uint8_t value = static_cast<uint8_t>(packed >> 8);
        const uint8_t active = !level_     ? value
                               : size_ > 0 ? value ^ static_cast<uint8_t>(packedAt(size_ - 1) >> 8)
                                           : 0;
        // A block's summary starts again with the first record written into it.
        small_[slot / kSmallBlock] =
            slot % kSmallBlock == 0 ? active : small_[slot / kSmallBlock] | active;
        big_[slot / kBigBlock] = slot % kBigBlock == 0 ? active : big_[slot / kBigBlock] | active;
        slots_[slot] = packed;
        if (size_ < capacity_) {
            ++size_;
        } else {
            begin_ = (begin_ + 1) & (capacity_ - 1);
            ++firstSequence_;
        }
    }
    void clear() {
        firstSequence_ += size_;
        begin_ = 0;
        size_ = 0;
    }
    uint64_t packedAt(size_t index) const { return slots_[(begin_ + index) & (capacity_ - 1)]; }
    size_t lowerBound(int64_t timeUs) const {
        const uint64_t key = pack(std::max<int64_t>(timeUs, 0), 0, 0);
        size_t low = 0, count = size_;
        while (count > 0) {
            const size_t half = count / 2;
            if (packedAt(low + half) < key) {
                low += half + 1;
                count -= half + 1;
            } else {
                count = half;
            }
        }
        return low;
    }

    uint8_t activity(size_t lo, size_t hi) const {
        uint8_t active = 0;
        for (size_t i = lo; i < hi;) {
            const size_t slot = (begin_ + i) & (capacity_ - 1);
            if (wholeBlock(slot, i, hi, kBigBlock)) {
                active |= big_[slot / kBigBlock];
                i += kBigBlock;
            } else if (wholeBlock(slot, i, hi, kSmallBlock)) {
                active |= small_[slot / kSmallBlock];
                i += kSmallBlock;
            } else {
                const uint8_t value = static_cast<uint8_t>(slots_[slot] >> 8);
                active |= !level_ ? value
                          : i > 0 ? value ^ static_cast<uint8_t>(packedAt(i - 1) >> 8)
                                  : 0;
                ++i;
            }
        }
        return active;
    }

    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    uint64_t firstSequence() const { return firstSequence_; }

private:
    static constexpr size_t kSmallBlock = 64;
    static constexpr size_t kBigBlock = 4096;

    // The summary of the block starting at `slot` stands for records i to i + block - 1 when
    // they are all asked for and the block holds them in order: the oldest record is not in its
    // middle, where a full ring writes its newest over its oldest.
    bool wholeBlock(size_t slot, size_t i, size_t hi, size_t block) const {
        return slot % block == 0 && i + block <= hi && !(begin_ > slot && begin_ < slot + block);
    }

    struct Free {
        void operator()(uint64_t* p) const { std::free(p); }
    };
    const size_t capacity_;
    const bool level_;
    const std::unique_ptr<uint64_t[], Free> slots_;
    // Per block of records: the bits that changed (level) or occurred (event) in it.
    std::vector<uint8_t> small_;
    std::vector<uint8_t> big_;
    size_t begin_ = 0;
    size_t size_ = 0;
    uint64_t firstSequence_ = 0;
};

Recorder::Recorder(Clock clock, size_t capacityDivisor)
    : clock_(std::move(clock)), startSteadyUs_(clock_()), startWallUs_(wallClockUs()) {
    for (size_t s = 0; s < kSignalCount; ++s)
        rings_[s] = std::make_unique<Ring>(
            defaultCapacity(static_cast<Signal>(s)) / std::max<size_t>(capacityDivisor, 1),
            signalKind(static_cast<Signal>(s)) == SignalKind::Level);
}

Recorder::~Recorder() = default;

int64_t Recorder::nowUs() const {
    return clock_() - startSteadyUs_;
}

void Recorder::append(Signal signal, int64_t timeUs, uint8_t value, uint8_t flags) {
    Ring& ring = *rings_[signal];
    if (ring.size() > 0) {
        const Record last = Ring::unpack(ring.packedAt(ring.size() - 1));
        const bool event = signalKind(signal) == SignalKind::Event;
        if (!event && last.value == value) return;
        timeUs = std::max(timeUs, last.timeUs + (event ? 1 : 0));
    }
    ring.push(Ring::pack(std::max<int64_t>(timeUs, 0), value, flags));
}

void Recorder::recordRegisters(const std::array<uint8_t, 8>& values, uint8_t changed) {
    if (paused_ || changed == 0) return;
    const int64_t time = nowUs();
    for (int offset = 0; offset < 8; ++offset)
        if (changed >> offset & 1)
            append(static_cast<Signal>(kRegister0 + offset), time, values[offset], 0);
}

void Recorder::recordLevel(Signal signal, int64_t steadyUs, bool level) {
    if (paused_) return;
    append(signal, steadyUs - startSteadyUs_, level ? 1 : 0, 0);
}

void Recorder::recordTraffic(const comm::TrafficEntry* entries, size_t count) {
    if (paused_) return;
    constexpr uint8_t kEventBits = comm::kTrafficParityError | comm::kTrafficFramingError |
                                   comm::kTrafficBreak | comm::kTrafficOverrun |
                                   comm::kTrafficQueueOverflow;
    for (size_t i = 0; i < count; ++i) {
        const comm::TrafficEntry& entry = entries[i];
        const int64_t time = entry.timeUs - startSteadyUs_;
        if (!comm::isTrafficMark(entry))
            append(entry.flags & comm::kTrafficSent ? kPortSent : kPortReceived, time, entry.value,
                   entry.flags);
        // A byte with an error is a data mark and an error event; a mark is only the event.
        if (entry.flags & kEventBits)
            append(kPortLineEvents, time, static_cast<uint8_t>(entry.flags & kEventBits),
                   entry.flags);
    }
}

void Recorder::clear() {
    for (auto& ring : rings_) ring->clear();
}

size_t Recorder::size(Signal signal) const {
    return rings_[signal]->size();
}

size_t Recorder::capacity(Signal signal) const {
    return rings_[signal]->capacity();
}

Record Recorder::at(Signal signal, size_t index) const {
    return Ring::unpack(rings_[signal]->packedAt(index));
}

size_t Recorder::lowerBound(Signal signal, int64_t timeUs) const {
    return rings_[signal]->lowerBound(timeUs);
}

uint8_t Recorder::activity(Signal signal, size_t lo, size_t hi) const {
    return rings_[signal]->activity(lo, hi);
}

uint64_t Recorder::firstSequence(Signal signal) const {
    return rings_[signal]->firstSequence();
}

int64_t Recorder::lastTimeUs() const {
    int64_t last = 0;
    for (const auto& ring : rings_)
        if (ring->size() > 0)
            last = std::max(last, Ring::unpack(ring->packedAt(ring->size() - 1)).timeUs);
    return last;
}

int64_t Recorder::firstTimeUs() const {
    int64_t first = -1;
    for (const auto& ring : rings_)
        if (ring->size() > 0) {
            const int64_t t = Ring::unpack(ring->packedAt(0)).timeUs;
            first = first < 0 ? t : std::min(first, t);
        }
    return std::max<int64_t>(first, 0);
}

size_t Recorder::usedBytes() const {
    size_t bytes = 0;
    for (const auto& ring : rings_) bytes += ring->size() * sizeof(uint64_t);
    return bytes;
}

}  // namespace timeline
