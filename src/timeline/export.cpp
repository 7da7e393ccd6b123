#include "timeline/export.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>

namespace timeline {

namespace {

// What a lane shows at a point of the walk.
struct LaneState {
    enum Kind : uint8_t { Unknown, Idle, Value } kind = Unknown;
    uint8_t value = 0;
    bool operator==(const LaneState&) const = default;
};

// The lanes' changes in time order, merged from the rings of their signals. An event sets its
// lanes at its instant and leaves them idle 1 µs later unless the signal's next event is then.
class ChangeWalker {
public:
    struct Change {
        int64_t timeUs;  // from the start of the export
        size_t lane;
        LaneState before;
        LaneState after;
    };

    ChangeWalker(const Recorder& recorder, const std::vector<Lane>& lanes)
        : recorder_(recorder), lanes_(lanes) {
        int64_t first = std::numeric_limits<int64_t>::max();
        endTimeUs_ = recorder.lastTimeUs();
        for (const Lane& lane : lanes_) {
            if (std::find_if(signals_.begin(), signals_.end(), [&](const SignalCursor& c) {
                    return c.signal == lane.signal;
                }) != signals_.end())
                continue;
            const uint64_t oldest = recorder.firstSequence(lane.signal);
            SignalCursor cursor{lane.signal, oldest,
                                oldest + recorder.lowerBound(lane.signal, endTimeUs_ + 1)};
            if (cursor.end > oldest) first = std::min(first, recorder.at(lane.signal, 0).timeUs);
            total_ += cursor.end - oldest;
            signals_.push_back(cursor);
        }
        startTimeUs_ = first == std::numeric_limits<int64_t>::max() ? 0 : first;
        for (const Lane& lane : lanes_)
            states_.push_back(signalKind(lane.signal) == SignalKind::Event
                                  ? LaneState{LaneState::Idle, 0}
                                  : LaneState{});
    }

    int64_t startTimeUs() const { return startTimeUs_; }
    // The time of the last change plus 1 µs.
    int64_t endTimeUs() const { return std::max(lastChangeUs_ + 1, int64_t{1}); }
    const std::vector<LaneState>& states() const { return states_; }
    bool done() const { return nextSignal() == kNone; }
    double progress() const { return total_ == 0 ? 1.0 : static_cast<double>(taken_) / total_; }

    // Takes one record (or one event's end) and hands its lanes' changes to `out`.
    template <class Out>
    void step(Out&& out) {
        const size_t next = nextSignal();
        if (next == kNone) return;
        SignalCursor* cursor = &signals_[next];
        const bool event = signalKind(cursor->signal) == SignalKind::Event;
        const int64_t recordTime = recordTimeAt(*cursor);
        if (cursor->idleAtUs >= 0 && cursor->idleAtUs < recordTime) {
            const int64_t time = cursor->idleAtUs - startTimeUs_;
            cursor->idleAtUs = -1;
            for (size_t i = 0; i < lanes_.size(); ++i)
                if (lanes_[i].signal == cursor->signal) change(i, time, {LaneState::Idle, 0}, out);
            return;
        }
        const Record record = recorder_.at(cursor->signal, ringIndex(*cursor));
        ++cursor->sequence;
        ++taken_;
        const int64_t time = record.timeUs - startTimeUs_;
        for (size_t i = 0; i < lanes_.size(); ++i) {
            const Lane& lane = lanes_[i];
            if (lane.signal != cursor->signal) continue;
            const uint8_t value = lane.valueOf(record.value);
            // An event that leaves a bit lane at 0 did not happen on that lane.
            if (event && lane.isBit() && value == 0) continue;
            change(i, time, {LaneState::Value, value}, out);
        }
        if (event) cursor->idleAtUs = record.timeUs + 1;
    }

private:
    // Records are counted from the recording's first on, so new records that push the oldest
    // out of a full ring while an export runs do not move its place; records pushed out before
    // the export reached them are skipped.
    struct SignalCursor {
        Signal signal;
        uint64_t sequence;
        uint64_t end;
        int64_t idleAtUs = -1;  // an event's end still to come
    };
    static constexpr size_t kNone = static_cast<size_t>(-1);

    size_t ringIndex(SignalCursor& c) const {
        const uint64_t oldest = recorder_.firstSequence(c.signal);
        if (c.sequence < oldest) {
            taken_ += oldest - c.sequence;
            c.sequence = oldest;
        }
        return static_cast<size_t>(c.sequence - oldest);
    }
    int64_t recordTimeAt(SignalCursor& c) const {
        if (c.sequence >= c.end) return std::numeric_limits<int64_t>::max();
        const size_t index = ringIndex(c);
        return c.sequence < c.end ? recorder_.at(c.signal, index).timeUs
                                  : std::numeric_limits<int64_t>::max();
    }

    template <class Out>
    void change(size_t lane, int64_t time, LaneState after, Out&& out) {
        if (states_[lane] == after) return;
        out(Change{time, lane, states_[lane], after});
        states_[lane] = after;
        lastChangeUs_ = std::max(lastChangeUs_, time);
    }

    size_t nextSignal() const {
        size_t best = kNone;
        int64_t bestTime = std::numeric_limits<int64_t>::max();
        for (size_t i = 0; i < signals_.size(); ++i) {
            SignalCursor& c = signals_[i];
            int64_t time = recordTimeAt(c);
            if (c.idleAtUs >= 0) time = std::min(time, c.idleAtUs);
            if (time < bestTime) {
                bestTime = time;
                best = i;
            }
        }
        return best;
    }

    const Recorder& recorder_;
    const std::vector<Lane> lanes_;
    mutable std::vector<SignalCursor> signals_;
    std::vector<LaneState> states_;
    int64_t startTimeUs_ = 0;
    int64_t endTimeUs_ = 0;
    int64_t lastChangeUs_ = 0;
    uint64_t total_ = 0;
    mutable uint64_t taken_ = 0;
};

// VCD identifiers: the shortest strings of the printable characters '!' to '~'.
std::string vcdIdentifier(size_t index) {
    std::string id;
    do {
        id.push_back(static_cast<char>('!' + index % 94));
        index /= 94;
    } while (index > 0);
    return id;
}

std::string wallTimeText(int64_t wallUs) {
    const std::time_t seconds = static_cast<std::time_t>(wallUs / 1'000'000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

class VcdExport final : public Export {
public:
    VcdExport(const Recorder& recorder, const std::vector<Lane>& lanes, ExportOptions options)
        : walker_(recorder, lanes), lanes_(lanes), options_(std::move(options)) {
        for (size_t i = 0, id = 0; i < lanes_.size(); ++i) {
            ids_.push_back(id);
            id += split(lanes_[i]) ? 8 : 1;
        }
        dateUs_ = recorder.startWallUs() + walker_.startTimeUs();
    }

    std::string next(size_t records) override {
        std::string text;
        if (!headerWritten_) {
            writeHeader(text);
            headerWritten_ = true;
        }
        for (size_t i = 0; i < records && !walker_.done(); ++i)
            walker_.step([&](const ChangeWalker::Change& c) {
                if (c.timeUs != shownTimeUs_) {
                    text += '#' + std::to_string(c.timeUs) + '\n';
                    shownTimeUs_ = c.timeUs;
                }
                writeValue(text, c.lane, c.before, c.after);
            });
        if (walker_.done() && !finished_) {
            text += '#' + std::to_string(std::max(walker_.endTimeUs(), shownTimeUs_ + 1)) + '\n';
            finished_ = true;
        }
        return text;
    }
    bool done() const override { return finished_; }
    double progress() const override { return walker_.progress(); }

private:
    bool split(const Lane& lane) const { return options_.bitsOnly && !lane.isBit(); }

    void writeHeader(std::string& text) const {
        text += "$date " + wallTimeText(dateUs_) + " $end\n";
        text += "$version QUILLMOR " + options_.programVersion + " $end\n";
        text += "$timescale 1 us $end\n";
        for (const auto& [scope, scopeName] :
             {std::pair{Scope::Block, "block"}, std::pair{Scope::Port, "port"}}) {
            bool opened = false;
            for (size_t i = 0; i < lanes_.size(); ++i) {
                const Lane& lane = lanes_[i];
                if (lane.scope != scope) continue;
                if (!opened) text += std::string("$scope module ") + scopeName + " $end\n";
                opened = true;
                if (split(lane)) {
                    for (int bit = 0; bit < 8; ++bit)
                        text += "$var wire 1 " + vcdIdentifier(ids_[i] + bit) + ' ' + lane.name +
                                "_D" + std::to_string(bit) + " $end\n";
                } else if (lane.isBit()) {
                    text += "$var wire 1 " + vcdIdentifier(ids_[i]) + ' ' + lane.name + " $end\n";
                } else {
                    text += "$var reg 8 " + vcdIdentifier(ids_[i]) + ' ' + lane.name + " $end\n";
                }
            }
            if (opened) text += "$upscope $end\n";
        }
        text += "$enddefinitions $end\n#0\n$dumpvars\n";
        for (size_t i = 0; i < lanes_.size(); ++i)
            writeValue(text, i, {}, walker_.states()[i], true);
        text += "$end\n";
    }

    void writeValue(std::string& text, size_t lane, LaneState before, LaneState after,
                    bool all = false) const {
        const auto bitChar = [&](const LaneState& s, int bit) {
            if (s.kind == LaneState::Unknown) return 'x';
            // An idle value lane is z; split into wires (for libsigrok) it is 0.
            if (s.kind == LaneState::Idle)
                return lanes_[lane].isBit() || split(lanes_[lane]) ? '0' : 'z';
            return (s.value >> bit & 1) ? '1' : '0';
        };
        if (lanes_[lane].isBit()) {
            text += bitChar(after, 0);
            text += vcdIdentifier(ids_[lane]);
            text += '\n';
        } else if (split(lanes_[lane])) {
            for (int bit = 0; bit < 8; ++bit) {
                if (!all && bitChar(before, bit) == bitChar(after, bit)) continue;
                text += bitChar(after, bit);
                text += vcdIdentifier(ids_[lane] + bit);
                text += '\n';
            }
        } else {
            text += 'b';
            for (int bit = 7; bit >= 0; --bit) text += bitChar(after, bit);
            text += ' ' + vcdIdentifier(ids_[lane]) + '\n';
        }
    }

    ChangeWalker walker_;
    const std::vector<Lane> lanes_;
    const ExportOptions options_;
    std::vector<size_t> ids_;  // the first identifier of each lane
    int64_t dateUs_ = 0;
    int64_t shownTimeUs_ = 0;
    bool headerWritten_ = false;
    bool finished_ = false;
};

class CsvExport final : public Export {
public:
    CsvExport(const Recorder& recorder, const std::vector<Lane>& lanes)
        : walker_(recorder, lanes), lanes_(lanes) {}

    std::string next(size_t records) override {
        std::string text;
        if (!headerWritten_) {
            text += "time_us,lane,old,new\n";
            headerWritten_ = true;
        }
        for (size_t i = 0; i < records && !walker_.done(); ++i)
            walker_.step([&](const ChangeWalker::Change& c) {
                // An event's end is no change of its own: the next row of the lane is an event.
                if (c.after.kind != LaneState::Value) return;
                text += std::to_string(c.timeUs) + ',' + lanes_[c.lane].name + ',';
                if (c.before.kind == LaneState::Value)
                    text += std::to_string(c.before.value);
                else if (c.before.kind == LaneState::Idle && lanes_[c.lane].isBit())
                    text += '0';
                text += ',' + std::to_string(c.after.value) + '\n';
            });
        return text;
    }
    bool done() const override { return walker_.done(); }
    double progress() const override { return walker_.progress(); }

private:
    ChangeWalker walker_;
    const std::vector<Lane> lanes_;
    bool headerWritten_ = false;
};

}  // namespace

std::unique_ptr<Export> vcdExport(const Recorder& recorder, const std::vector<Lane>& lanes,
                                  const ExportOptions& options) {
    return std::make_unique<VcdExport>(recorder, lanes, options);
}

std::unique_ptr<Export> csvExport(const Recorder& recorder, const std::vector<Lane>& lanes) {
    return std::make_unique<CsvExport>(recorder, lanes);
}

}  // namespace timeline
