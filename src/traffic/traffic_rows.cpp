#include "traffic/traffic_rows.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace traffic {

namespace {

comm::TrafficEntry* allocateRing(size_t capacity) {
    void* storage = std::calloc(capacity, sizeof(comm::TrafficEntry));
    if (!storage) throw std::bad_alloc();
    return static_cast<comm::TrafficEntry*>(storage);
}

int clampedBytes(int bytes) {
    return std::clamp(bytes, 1, kMaxRowEntries);
}

}  // namespace

RowSplitter::RowSplitter(const RowRule& rule) : rule_(rule) {
    rule_.bytesPerRow = clampedBytes(rule_.bytesPerRow);
    rule_.silenceMs = std::clamp(rule_.silenceMs, 1, 1000);
}

TrafficRows::TrafficRows(size_t capacity, const RowRule& rule)
    : capacity_(std::bit_ceil(std::max<size_t>(capacity, 1))),
      ring_(allocateRing(capacity_)),
      openings_{{0, {}}},
      splitter_(rule) {}

void TrafficRows::FreeStorage::operator()(comm::TrafficEntry* p) const {
    std::free(p);
}

// An opening that has brought no entry yet is replaced rather than kept.
void TrafficRows::beginOpening(const OpeningClock& clock) {
    if (openings_.back().firstEntry == end_)
        openings_.back().clock = clock;
    else
        openings_.push_back({end_, clock});
    splitter_.reset();
}

void TrafficRows::append(const comm::TrafficEntry* entries, size_t count) {
    if (count > capacity_) {
        const size_t skipped = count - capacity_;
        dropOldest(end_ + skipped);
        end_ += skipped;
        firstKept_ = end_;
        dropped_ += skipped;
        splitter_.reset();
        entries += skipped;
        count -= skipped;
    }
    if (end_ + count - firstKept_ > capacity_) dropOldest(end_ + count - capacity_);
    // The entries go into the ring in at most two copies; the rows follow in one pass, which
    // holds on to the open row (a deque keeps its elements in place as it grows).
    for (size_t done = 0; done < count;) {
        const size_t slot = static_cast<size_t>((end_ + done) & (capacity_ - 1));
        const size_t run = std::min(count - done, capacity_ - slot);
        std::memcpy(&ring_[slot], entries + done, run * sizeof(comm::TrafficEntry));
        done += run;
    }
    const auto opening = static_cast<uint32_t>(openings_.size() - 1);
    Row* open = rows_.empty() ? nullptr : &rows_.back();
    for (size_t i = 0; i < count; ++i) {
        if (splitter_.startsRow(entries[i]) || !open) {
            rows_.push_back({end_ + i, 1, opening});
            open = &rows_.back();
        } else {
            ++open->count;
        }
    }
    end_ += count;
}

void TrafficRows::dropOldest(uint64_t newFirst) {
    if (newFirst <= firstKept_) return;
    dropped_ += std::min(newFirst, end_) - firstKept_;
    firstKept_ = newFirst;
    while (!rows_.empty() && rows_.front().first + rows_.front().count <= newFirst) {
        rows_.pop_front();
        ++rowsRemoved_;
    }
    if (!rows_.empty() && rows_.front().first < newFirst) {
        Row& cut = rows_.front();
        cut.count -= static_cast<uint32_t>(newFirst - cut.first);
        cut.first = newFirst;
    }
}

void TrafficRows::setRule(const RowRule& rule) {
    splitter_ = RowSplitter(rule);
    rowsRemoved_ += rows_.size();
    rows_.clear();
    const uint64_t from = firstKept_;
    const uint64_t to = end_;
    end_ = from;
    // The opening in force: the last one that began at or before the entry.
    uint32_t opening = 0;
    for (uint64_t n = from; n < to; ++n) {
        while (opening + 1 < openings_.size() && openings_[opening + 1].firstEntry <= n) {
            ++opening;
            splitter_.reset();
        }
        const uint64_t number = end_++;
        if (splitter_.startsRow(entry(n)) || rows_.empty())
            rows_.push_back({number, 1, opening});
        else
            ++rows_.back().count;
    }
}

void TrafficRows::clear() {
    rowsRemoved_ += rows_.size();
    rows_.clear();
    firstKept_ = end_;
    dropped_ = 0;
    splitter_.reset();
}

size_t TrafficRows::rowOf(uint64_t number) const {
    if (number < firstKept_ || number >= end_) return rows_.size();
    const auto after = std::upper_bound(rows_.begin(), rows_.end(), number,
                                        [](uint64_t n, const Row& r) { return n < r.first; });
    return static_cast<size_t>(after - rows_.begin()) - 1;
}

}  // namespace traffic
