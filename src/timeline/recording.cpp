#include "timeline/recording.h"

#include <array>
#include <vector>

#include "monitor/register_monitor.h"

namespace timeline {

namespace {

constexpr int kPullIntervalMs = 20;
constexpr size_t kPullBatch = 4096;

}  // namespace

Recording::Recording(monitor::RegisterMonitor& monitor, PortFeed port, QObject* parent,
                     size_t capacityDivisor)
    : QObject(parent),
      monitor_(monitor),
      port_(std::move(port)),
      recorder_(comm::trafficClockUs, capacityDivisor) {
    monitor_.setChangeObserver([this](const std::array<uint8_t, 8>& values, uint8_t changed) {
        recorder_.recordRegisters(values, changed);
        emit recorded();
    });
    if (port_.comm) {
        comm::TComm& c = *port_.comm;
        chainLineEvent(c.OnCts, kPortCts, 1);
        chainLineEvent(c.OnDsr, kPortDsr, 2);
        chainLineEvent(c.OnRing, kPortRing, 3);
        chainLineEvent(c.OnRlsd, kPortRlsd, 4);
    }
    pull_.setInterval(kPullIntervalMs);
    connect(&pull_, &QTimer::timeout, this, [this] {
        followOpening();
        pullTraffic();
    });
    pull_.start();
}

bool Recording::uartBlock() const {
    return monitor_.watchesUart();
}

// The handler the terminal page set still runs; the level is read as it reads it, at the time the
// component's watcher saw the change rather than when the handover reached this thread.
void Recording::chainLineEvent(comm::TCustomComm::TNotifyEvent& handler, Signal signal,
                               int modemIndex) {
    handler = [this, signal, modemIndex, next = std::move(handler)](comm::TCustomComm* sender) {
        const int64_t seen = sender->EventTimeUs();
        recorder_.recordLevel(signal, seen != 0 ? seen : comm::trafficClockUs(),
                              sender->ModemSignal(modemIndex));
        if (next) next(sender);
    };
}

// An opening is seen by its new traffic stream, up to a pull interval after it: RTS and DTR
// were raised by the program at the opening; the input lines are read now, as they may have
// changed since (their events in between were recorded as they came). A closing drops RTS and
// DTR.
void Recording::followOpening() {
    if (!port_.comm) return;
    comm::TComm& c = *port_.comm;
    const bool open = c.IsOpen();
    std::shared_ptr<comm::TrafficStream> stream = c.Traffic();
    if (stream != stream_) {
        pullTraffic();  // what is left of the last opening's stream
        stream_ = std::move(stream);
        streamNext_ = 0;
        if (stream_ && open) {
            const int64_t openedAt = stream_->openedAtUs();
            if (port_.raisesRts && port_.raisesRts())
                recorder_.recordLevel(kPortRts, openedAt, true);
            if (port_.raisesDtr && port_.raisesDtr())
                recorder_.recordLevel(kPortDtr, openedAt, true);
            const int64_t now = comm::trafficClockUs();
            const std::array<Signal, 4> lines = {kPortCts, kPortDsr, kPortRing, kPortRlsd};
            for (int i = 0; i < 4; ++i) recorder_.recordLevel(lines[i], now, c.ModemSignal(i + 1));
        }
    }
    if (portOpen_ && !open) {
        const int64_t now = comm::trafficClockUs();
        recorder_.recordLevel(kPortRts, now, false);
        recorder_.recordLevel(kPortDtr, now, false);
    }
    portOpen_ = open;
}

void Recording::pullTraffic() {
    if (!stream_) return;
    std::vector<comm::TrafficEntry> entries(kPullBatch);
    bool any = false;
    for (;;) {
        const comm::TrafficStream::ReadResult read =
            stream_->read(streamNext_, entries.data(), entries.size());
        if (read.count == 0) break;
        recorder_.recordTraffic(entries.data(), read.count);
        streamNext_ = read.next;
        any = true;
    }
    if (any) emit recorded();
}

}  // namespace timeline
