#include <chrono>
#include <condition_variable>
#include <exception>
#include <thread>

#include "comm/comm.h"
#include "comm/comm_os.h"
#include "comm/traffic_stream.h"

namespace comm {

namespace {

// How long the watcher rests after a wait that failed at once (an empty event mask, a port
// that refuses every wait), so that it never spins; Stop cuts the rest short.
constexpr std::chrono::milliseconds kFailedWaitPause{50};

}  // namespace

// What the watcher thread and its owner share. The thread keeps it alive while it runs, so the
// component may forget its watcher at any time.
struct WatcherControl {
    std::shared_ptr<OsPort> port;
    uint32_t mask = 0;
    RunOnOwner runOnOwner;
    TCommEventThread* self = nullptr;
    // When the wait being handed over completed: written by the watcher before the handover,
    // read by the owner's handlers during it.
    int64_t eventTimeUs = 0;

    std::mutex lock;
    std::condition_variable changed;
    bool terminated = false;
    bool handingOver = false;
    bool finished = false;
    // Set and called on the owner thread only.
    TCommEventThread::TCommEvent onCommEvent;

    void run();
    bool handOver(uint32_t events);
    void finish() {
        std::lock_guard guard(lock);
        finished = true;
        changed.notify_all();
    }
};

// Returns false when a handler's exception ended the watcher.
bool WatcherControl::handOver(uint32_t events) {
    {
        std::lock_guard guard(lock);
        if (terminated) return true;
        handingOver = true;
    }
    std::exception_ptr failure;
    port->setHandingOver(true);
    runOnOwner([&] {
        {
            std::lock_guard guard(lock);
            if (terminated) return;
        }
        try {
            if (onCommEvent) onCommEvent(self, events);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    port->setHandingOver(false);
    {
        std::lock_guard guard(lock);
        handingOver = false;
        changed.notify_all();
    }
    if (!failure) return true;
    try {
        std::rethrow_exception(failure);
    } catch (...) {
        // The handler's error ends the watcher silently; the port stays open without events.
        return false;
    }
}

void WatcherControl::run() {
    for (;;) {
        {
            std::lock_guard guard(lock);
            if (terminated) break;
        }
        uint32_t events = 0;
        int error = 0;
        switch (port->waitCommEvent(events, error)) {
            case OsPort::Wait::kEvent:
                eventTimeUs = trafficClockUs();
                if (!handOver(events)) {
                    finish();
                    return;
                }
                break;
            case OsPort::Wait::kFailed: {
                std::unique_lock guard(lock);
                changed.wait_for(guard, kFailedWaitPause, [this] { return terminated; });
                break;
            }
            case OsPort::Wait::kCancelled:
                break;
        }
    }
    port->purgeComm(kPurgeAll);
    finish();
}

TCommEventThread::TCommEventThread(std::shared_ptr<OsPort> CommHandle, TCommEventTypes Events,
                                   RunOnOwner runOnOwner)
    : control_(std::make_shared<WatcherControl>()) {
    control_->port = std::move(CommHandle);
    control_->mask = eventMask(Events);
    control_->runOnOwner = std::move(runOnOwner);
    control_->self = this;
    control_->port->setCommMask(control_->mask);
    std::thread([control = control_] {
        raiseCurrentThreadPriority();
        control->run();
    }).detach();
}

TCommEventThread::~TCommEventThread() {
    Stop();
}

void TCommEventThread::SetOnCommEvent(TCommEvent handler) {
    std::lock_guard guard(control_->lock);
    control_->onCommEvent = std::move(handler);
}

void TCommEventThread::Stop() {
    control_->port->cancelWait();
    std::lock_guard guard(control_->lock);
    control_->terminated = true;
    control_->changed.notify_all();
}

bool TCommEventThread::WaitUnlessHandingOver() {
    std::unique_lock guard(control_->lock);
    control_->changed.wait(guard, [this] { return control_->finished || control_->handingOver; });
    return control_->finished;
}

int64_t TCommEventThread::EventTimeUs() const {
    return control_->eventTimeUs;
}

bool TCommEventThread::Finished() const {
    std::lock_guard guard(control_->lock);
    return control_->finished;
}

}  // namespace comm
