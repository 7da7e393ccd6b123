#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace sim {

// Time source of the simulated PC, in nanoseconds. Everything that takes time on the wire
// (a character, a break, the receiver's time-out) is measured against it, so tests can pass a
// FakeClock and step time by hand instead of sleeping.
class Clock {
public:
    virtual ~Clock() = default;
    virtual int64_t nowNs() const = 0;
};

class SteadyClock final : public Clock {
public:
    int64_t nowNs() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// A clock that moves only when told to. Atomic so that a wire's service thread may read it
// while a test advances it.
class FakeClock final : public Clock {
public:
    int64_t nowNs() const override { return now_.load(std::memory_order_relaxed); }
    void advanceNs(int64_t ns) { now_.fetch_add(ns, std::memory_order_relaxed); }
    void setNs(int64_t ns) { now_.store(ns, std::memory_order_relaxed); }

private:
    std::atomic<int64_t> now_{0};
};

}  // namespace sim
