#pragma once

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <chrono>

#include "comm/comm.h"
#include "owner_loop.h"

namespace commtest {

// Runs f and returns the ECommError it raised; fails the test when it raises nothing.
template <typename F>
comm::ECommError raised(F&& f) {
    try {
        f();
    } catch (const comm::ECommError& e) {
        return e;
    }
    ADD_FAILURE() << "no ECommError";
    return comm::ECommError("", 0);
}

// Processor time the whole process takes while the loop runs handovers for `span`.
inline long cpuUsWhilePumping(OwnerLoop& loop, std::chrono::milliseconds span) {
    const auto cpuUs = [] {
        rusage r{};
        ::getrusage(RUSAGE_SELF, &r);
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
               r.ru_stime.tv_usec;
    };
    const long before = cpuUs();
    loop.pumpUntil([] { return false; }, span);
    return cpuUs() - before;
}

}  // namespace commtest
