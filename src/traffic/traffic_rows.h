#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "comm/traffic_stream.h"

namespace traffic {

// Where a row of the data view (and of a log written as the view shows it) ends.
struct RowRule {
    enum class Split { Bytes, LineEnd, Silence };
    Split split = Split::Bytes;
    int bytesPerRow = 16;  // Split::Bytes: 1 to kMaxRowEntries
    int silenceMs = 20;    // Split::Silence: a gap this long (1 to 1000 ms) starts a new row
};

// However the rows are split, none grows beyond this, so a device that never sends a line end
// or never pauses still gives rows a window can show.
inline constexpr int kMaxRowEntries = 24;

// Decides, entry by entry in the order of the stream, where rows start. A row holds one
// direction only; a line end is LF, or CR that no LF follows (a CR LF pair stays in one row).
class RowSplitter {
public:
    explicit RowSplitter(const RowRule& rule = {});
    // Whether e starts a new row; called for every entry in order.
    bool startsRow(const comm::TrafficEntry& e) {
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
        // A mark's value is 0, so it ends no line.
        lastValue_ = e.value;
        lastUs_ = e.timeUs;
        return starts;
    }
    // The next entry starts a row (a new opening of the port, a cleared view).
    void reset() { rowEntries_ = 0; }
    const RowRule& rule() const { return rule_; }

private:
    static constexpr uint8_t kLf = 10;
    static constexpr uint8_t kCr = 13;

    RowRule rule_;
    int rowEntries_ = 0;
    uint8_t direction_ = 0;
    uint8_t lastValue_ = 0;
    int64_t lastUs_ = 0;
};

// The clock of one opening of the port, for the time stamps of its rows.
struct OpeningClock {
    int64_t openedAtUs = 0;      // steady clock
    int64_t openedAtWallUs = 0;  // wall clock at the same moment
};

// What the data view holds: the newest `capacity` entries (rounded up to a power of two) of the
// port's traffic, across its openings, split into rows. Entries are numbered from 0 at the first
// one taken; older ones are dropped as new ones come and counted. The rows are rebuilt when the
// rule changes.
class TrafficRows {
public:
    struct Row {
        uint64_t first = 0;    // number of its first entry
        uint32_t count = 0;    // entries in it, 1 to kMaxRowEntries
        uint32_t opening = 0;  // index of its opening's clock
    };

    explicit TrafficRows(size_t capacity, const RowRule& rule = {});

    // The entries that follow belong to a new opening of the port.
    void beginOpening(const OpeningClock& clock);
    void append(const comm::TrafficEntry* entries, size_t count);
    // Entries lost before they reached the view (its reader fell behind the stream): counted,
    // and the next entry starts a row, as it does not follow the last one.
    void countLost(uint64_t count) {
        dropped_ += count;
        splitter_.reset();
    }
    void setRule(const RowRule& rule);
    void clear();

    const RowRule& rule() const { return splitter_.rule(); }
    size_t rowCount() const { return rows_.size(); }
    const Row& row(size_t index) const { return rows_[index]; }
    const comm::TrafficEntry& entry(uint64_t number) const {
        return ring_[number & (capacity_ - 1)];
    }
    const OpeningClock& clock(uint32_t opening) const { return openings_[opening].clock; }
    // The row that holds entry number, or rowCount() when it is no longer kept.
    size_t rowOf(uint64_t number) const;
    uint64_t firstKept() const { return firstKept_; }
    uint64_t end() const { return end_; }
    // Entries dropped to keep the bound, or lost before they arrived, since the last clear.
    uint64_t dropped() const { return dropped_; }
    // Rows removed from the front since the last call: a view keeps its place by them.
    size_t takeRowsRemoved() { return std::exchange(rowsRemoved_, 0); }
    size_t capacity() const { return capacity_; }

private:
    struct Opening {
        uint64_t firstEntry;
        OpeningClock clock;
    };
    void dropOldest(uint64_t newFirst);

    struct FreeStorage {
        void operator()(comm::TrafficEntry* p) const;
    };
    const size_t capacity_;
    // Zeroed pages from the system: a view that has seen little traffic costs little memory.
    const std::unique_ptr<comm::TrafficEntry[], FreeStorage> ring_;
    std::deque<Row> rows_;
    std::vector<Opening> openings_;
    RowSplitter splitter_;
    uint64_t firstKept_ = 0;
    uint64_t end_ = 0;
    uint64_t dropped_ = 0;
    size_t rowsRemoved_ = 0;
};

}  // namespace traffic
