// The poll's clock on Linux: a timerfd with an absolute first deadline and a period, read by
// the event loop as a socket notifier. The kernel keeps the schedule; each read takes all the
// expirations that piled up, and one tick answers them all.
#include <sys/timerfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>
#include <ctime>

#include "monitor/poll_timer.h"

namespace monitor {

namespace {

timespec toTimespec(std::chrono::nanoseconds time) {
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(time);
    return {static_cast<time_t>(secs.count()), static_cast<long>((time - secs).count())};
}

}  // namespace

PollTimer::PollTimer(std::chrono::nanoseconds period, QObject* parent)
    : QObject(parent),
      period_(period),
      fd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    notifier_->setEnabled(false);
    connect(notifier_, &QSocketNotifier::activated, this, &PollTimer::expired);
}

PollTimer::~PollTimer() {
    delete notifier_;
    if (fd_ >= 0) ::close(fd_);
}

void PollTimer::start() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::chrono::nanoseconds first =
        std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) + period_;
    const itimerspec schedule{toTimespec(period_), toTimespec(first)};
    active_ = ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &schedule, nullptr) == 0;
    notifier_->setEnabled(active_);
}

void PollTimer::stop() {
    const itimerspec disarmed{};
    ::timerfd_settime(fd_, 0, &disarmed, nullptr);
    notifier_->setEnabled(false);
    active_ = false;
}

void PollTimer::expired() {
    uint64_t expirations = 0;
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations) return;
    emit timeout();
}

}  // namespace monitor
