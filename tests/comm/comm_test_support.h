#pragma once

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "comm/comm.h"
#include "comm/traffic_stream.h"
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

// Every entry a stream still holds, from its start.
inline std::vector<comm::TrafficEntry> allTraffic(const comm::TrafficStream& stream) {
    std::vector<comm::TrafficEntry> entries(static_cast<size_t>(stream.end()));
    entries.resize(stream.read(0, entries.data(), entries.size()).count);
    return entries;
}

// The data bytes of one direction, marks left out.
inline std::string trafficBytes(const comm::TrafficStream& stream, bool sent) {
    std::string bytes;
    for (const comm::TrafficEntry& e : allTraffic(stream))
        if (!comm::isTrafficMark(e) && ((e.flags & comm::kTrafficSent) != 0) == sent)
            bytes.push_back(static_cast<char>(e.value));
    return bytes;
}

// What was received, one word per entry: a byte as its character (two hex digits when it is
// not printable) with "/p" or "/f" for a parity or framing error; a mark as <break>,
// <overrun>, <overflow> or <error/p/f>, with "?" when it is not placed exactly.
inline std::string receivedTraffic(const comm::TrafficStream& stream) {
    std::string words;
    for (const comm::TrafficEntry& e : allTraffic(stream)) {
        if (e.flags & comm::kTrafficSent) continue;
        std::string word;
        const std::string errors = std::string((e.flags & comm::kTrafficParityError) ? "/p" : "") +
                                   ((e.flags & comm::kTrafficFramingError) ? "/f" : "");
        if (e.flags & comm::kTrafficBreak) {
            word = "<break>";
        } else if (e.flags & comm::kTrafficOverrun) {
            word = "<overrun>";
        } else if (e.flags & comm::kTrafficQueueOverflow) {
            word = "<overflow>";
        } else if (comm::isTrafficMark(e)) {
            word = "<error" + errors + ">";
        } else if (e.value > ' ' && e.value < 0x7F) {
            word = std::string(1, static_cast<char>(e.value)) + errors;
        } else {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", e.value);
            word = hex + errors;
        }
        if (e.flags & comm::kTrafficUnplaced) word += "?";
        words += (words.empty() ? "" : " ") + word;
    }
    return words;
}

}  // namespace commtest
