#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "comm/comm.h"
#include "timeline/recorder.h"

namespace monitor {
class RegisterMonitor;
}

namespace timeline {

// The terminal page's port as the recording sees it: the component and whether the program
// raises RTS and DTR when it opens the port.
struct PortFeed {
    comm::TComm* comm = nullptr;
    std::function<bool()> raisesRts;
    std::function<bool()> raisesDtr;
};

// The program's recording, from start-up on: the monitor's tick hands it the registers that
// changed (nothing more than an append per change), the port's line events arrive through the
// component's handlers, and the port's traffic stream is read every 20 ms, away from the tick.
class Recording : public QObject {
    Q_OBJECT
public:
    Recording(monitor::RegisterMonitor& monitor, PortFeed port, QObject* parent = nullptr,
              size_t capacityDivisor = 1);

    Recorder& recorder() { return recorder_; }
    const Recorder& recorder() const { return recorder_; }
    // Whether the watched block is a UART: its lanes are then named after the 16550's bits.
    bool uartBlock() const;
    // Reads what the port's stream holds now; the window calls it before it draws or exports.
    void pullTraffic();

signals:
    // New records may be there (after a tick with changes, or traffic).
    void recorded();

private:
    void followOpening();
    void chainLineEvent(comm::TCustomComm::TNotifyEvent& handler, Signal signal, int modemIndex);

    monitor::RegisterMonitor& monitor_;
    PortFeed port_;
    Recorder recorder_;
    QTimer pull_;
    std::shared_ptr<comm::TrafficStream> stream_;
    uint64_t streamNext_ = 0;
    bool portOpen_ = false;
};

}  // namespace timeline
