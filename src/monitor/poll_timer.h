#pragma once

#include <QObject>
#include <chrono>

class QSocketNotifier;

namespace monitor {

// The clock of the register poll: it ticks on absolute deadlines, one period apart from its
// start, whatever each tick costs, so the rate is the one asked for. A tick that comes late
// (the thread was busy) is not made up with a burst of ticks: the next deadline on the
// schedule is the next tick. Qt's precise timer sets its next deadline from the moment a late
// tick ran and waits in whole milliseconds, which at a 1 ms period loses a fifth of the ticks.
//
// It runs on the thread that made it; timeout() is emitted there. One source per system.
class PollTimer : public QObject {
    Q_OBJECT
public:
    PollTimer(std::chrono::nanoseconds period, QObject* parent);
    ~PollTimer() override;
    PollTimer(const PollTimer&) = delete;
    PollTimer& operator=(const PollTimer&) = delete;

    std::chrono::nanoseconds period() const { return period_; }
    bool isActive() const { return active_; }
    // The first tick comes one period from now.
    void start();
    void stop();

signals:
    void timeout();

private:
    void expired();

    const std::chrono::nanoseconds period_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    bool active_ = false;
};

}  // namespace monitor
