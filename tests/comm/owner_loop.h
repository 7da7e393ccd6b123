#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "comm/comm.h"

namespace commtest {

// The test thread as the component's owner thread: watchers queue their handovers here and
// block until the test thread, pumping, has run them. A watcher may outlive the loop by a
// moment (a component closed while its watcher was handing over); the queue it talks to is
// shared, and once the loop is gone a handover returns without running.
class OwnerLoop {
public:
    OwnerLoop() : queue_(std::make_shared<Queue>()) {}
    OwnerLoop(const OwnerLoop&) = delete;
    OwnerLoop& operator=(const OwnerLoop&) = delete;

    comm::RunOnOwner runOnOwner() {
        return [queue = queue_](const std::function<void()>& call) { queue->runAndWait(call); };
    }

    // Runs queued handovers until done() holds or the limit passes; returns done(). done() may
    // depend on other threads too, so it is looked at again every millisecond.
    bool pumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (done()) return true;
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return false;
            std::shared_ptr<Call> next;
            {
                std::unique_lock guard(queue_->lock);
                const auto slice = std::min(deadline, now + std::chrono::milliseconds(1));
                if (!queue_->arrived.wait_until(guard, slice,
                                                [this] { return !queue_->calls.empty(); }))
                    continue;
                next = queue_->take();
            }
            next->run();
        }
    }

    ~OwnerLoop() {
        for (;;) {
            std::shared_ptr<Call> next;
            {
                std::lock_guard guard(queue_->lock);
                if (queue_->calls.empty()) {
                    queue_->gone = true;
                    return;
                }
                next = queue_->take();
            }
            next->run();
        }
    }

private:
    struct Call {
        std::function<void()> fn;
        std::mutex lock;
        std::condition_variable finished;
        bool ran = false;
        void run() {
            fn();
            std::lock_guard guard(lock);
            ran = true;
            finished.notify_all();
        }
    };

    struct Queue {
        std::mutex lock;
        std::condition_variable arrived;
        std::deque<std::shared_ptr<Call>> calls;
        bool gone = false;

        std::shared_ptr<Call> take() {
            std::shared_ptr<Call> c = calls.front();
            calls.pop_front();
            return c;
        }
        void runAndWait(const std::function<void()>& fn) {
            auto call = std::make_shared<Call>();
            call->fn = fn;
            {
                std::lock_guard guard(lock);
                if (gone) return;
                calls.push_back(call);
                arrived.notify_all();
            }
            std::unique_lock guard(call->lock);
            call->finished.wait(guard, [&] { return call->ran; });
        }
    };

    std::shared_ptr<Queue> queue_;
};

}  // namespace commtest
