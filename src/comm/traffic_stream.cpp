#include "comm/traffic_stream.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

namespace comm {

namespace {

TrafficEntry* allocateRing(size_t capacity) {
    void* storage = std::calloc(capacity, sizeof(TrafficEntry));
    if (!storage) throw std::bad_alloc();
    return static_cast<TrafficEntry*>(storage);
}

int64_t microseconds(std::chrono::nanoseconds t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t).count();
}

}  // namespace

bool isTrafficMark(const TrafficEntry& e) {
    return (e.flags &
            (kTrafficBreak | kTrafficOverrun | kTrafficQueueOverflow | kTrafficUnplaced)) != 0;
}

int64_t trafficClockUs() {
    return microseconds(std::chrono::steady_clock::now().time_since_epoch());
}

void TrafficStream::FreeStorage::operator()(TrafficEntry* p) const {
    std::free(p);
}

TrafficStream::TrafficStream(size_t capacity)
    : capacity_(std::max<size_t>(capacity, 1)),
      ring_(allocateRing(capacity_)),
      openedAtUs_(trafficClockUs()),
      openedAtWallUs_(microseconds(std::chrono::system_clock::now().time_since_epoch())) {}

void TrafficStream::append(const TrafficEntry* entries, size_t count) {
    if (count == 0) return;
    // More than the ring holds: only the newest fit, the rest count as dropped.
    const size_t skipped = count > capacity_ ? count - capacity_ : 0;
    {
        std::lock_guard guard(lock_);
        uint64_t at = end_ + skipped;
        for (size_t i = skipped; i < count;) {
            const size_t slot = static_cast<size_t>(at % capacity_);
            const size_t run = std::min(count - i, capacity_ - slot);
            std::memcpy(&ring_[slot], entries + i, run * sizeof(TrafficEntry));
            i += run;
            at += run;
        }
        end_ += count;
    }
    grown_.notify_all();
}

// Written straight into the ring: no copy of the bytes as entries on the way, which for the
// simulated driver's one byte at a time would cost more than the entry itself.
void TrafficStream::appendBytes(const uint8_t* bytes, size_t count, uint8_t flags) {
    if (count == 0) return;
    const int64_t now = trafficClockUs();
    const size_t skipped = count > capacity_ ? count - capacity_ : 0;
    {
        std::lock_guard guard(lock_);
        size_t slot = static_cast<size_t>((end_ + skipped) % capacity_);
        for (size_t i = skipped; i < count; ++i) {
            ring_[slot] = TrafficEntry{now, bytes[i], flags};
            if (++slot == capacity_) slot = 0;
        }
        end_ += count;
    }
    grown_.notify_all();
}

void TrafficStream::appendMark(uint8_t flags) {
    const TrafficEntry mark{trafficClockUs(), 0, flags};
    append(&mark, 1);
}

TrafficStream::ReadResult TrafficStream::read(uint64_t from, TrafficEntry* out, size_t max) const {
    ReadResult result;
    std::lock_guard guard(lock_);
    const uint64_t oldest = end_ > capacity_ ? end_ - capacity_ : 0;
    if (from < oldest) {
        result.dropped = oldest - from;
        from = oldest;
    }
    from = std::min(from, end_);
    result.count = static_cast<size_t>(std::min<uint64_t>(max, end_ - from));
    for (size_t i = 0; i < result.count;) {
        const size_t slot = static_cast<size_t>((from + i) % capacity_);
        const size_t run = std::min(result.count - i, capacity_ - slot);
        std::memcpy(out + i, &ring_[slot], run * sizeof(TrafficEntry));
        i += run;
    }
    result.next = from + result.count;
    return result;
}

uint64_t TrafficStream::end() const {
    std::lock_guard guard(lock_);
    return end_;
}

bool TrafficStream::waitBeyond(uint64_t from, int timeoutMs) const {
    std::unique_lock guard(lock_);
    const uint64_t wakeups = wakeups_;
    grown_.wait_for(guard, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                    [&] { return end_ > from || wakeups_ != wakeups; });
    return end_ > from;
}

void TrafficStream::wake() {
    {
        std::lock_guard guard(lock_);
        ++wakeups_;
    }
    grown_.notify_all();
}

}  // namespace comm
