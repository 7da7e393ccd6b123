#include "traffic/traffic_rows.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace traffic {

namespace {

constexpr uint8_t kLf = 10;
constexpr uint8_t kCr = 13;

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

bool RowSplitter::startsRow(const comm::TrafficEntry& e) {
    const uint8_t direction = e.flags & comm::kTrafficSent;
    bool starts = rowEntries_ == 0 || direction != direction_ || rowEntries_ >= kMaxRowEntries;
    if (!starts) {
        switch (rule_.split) {
            case RowRule::Split::Bytes:
                starts = rowEntries_ >= rule_.bytesPerRow;
                break;
            case RowRule::Split::LineEnd:
                starts = lastValue_ == kLf || (lastValue_ == kCr && e.value != kLf);
                break;
            case RowRule::Split::Silence:
                starts = e.timeUs - lastUs_ >= int64_t{rule_.silenceMs} * 1000;
                break;
        }
    }
    rowEntries_ = starts ? 1 : rowEntries_ + 1;
    direction_ = direction;
    // A mark is no character of a line.
    lastValue_ = comm::isTrafficMark(e) ? 0 : e.value;
    lastUs_ = e.timeUs;
    return starts;
}

TrafficRows::TrafficRows(size_t capacity, const RowRule& rule)
    : capacity_(std::max<size_t>(capacity, 1)),
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
    for (size_t i = 0; i < count; ++i) place(entries[i]);
}

void TrafficRows::place(const comm::TrafficEntry& e) {
    const uint64_t number = end_++;
    ring_[number % capacity_] = e;
    if (splitter_.startsRow(e) || rows_.empty()) {
        rows_.push_back({number, 1, static_cast<uint32_t>(openings_.size() - 1)});
    } else {
        ++rows_.back().count;
    }
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
