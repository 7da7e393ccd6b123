#include "timeline/recorder.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace {

using timeline::Recorder;
using timeline::Signal;

// A storm much longer than the rings: every register changes on every 1 ms tick, and the port
// sends bytes in batches that share one time stamp. The rings stay at their bound, hold the
// newest records in time order, and their per-block summaries agree with the records after
// wrapping round many times.
TEST(RecorderRing, StormKeepsEveryRingAtItsBoundWithTheNewestRecordsInOrder) {
    int64_t clock = 5'000'000;
    Recorder recorder([&clock] { return clock; }, 256);
    const size_t capacity = recorder.capacity(timeline::kRegister0);
    const size_t ticks = capacity * 5 + 123;
    std::array<uint8_t, 8> values{};
    for (size_t tick = 0; tick < ticks; ++tick) {
        clock += 1000;
        // Register 0 counts; register 6 keeps bit 4 for long runs, as a slow line does.
        for (int offset = 0; offset < 8; ++offset)
            values[offset] = static_cast<uint8_t>(offset == 6 ? (tick / 1000 % 2) << 4 | (tick & 1)
                                                              : tick + offset);
        recorder.recordRegisters(values, 0xFF);
        if (tick % 100 == 0) {
            const std::array<comm::TrafficEntry, 3> batch = {
                {{clock, 'A', 0}, {clock, 'B', comm::kTrafficSent}, {clock, 'C', 0}}};
            recorder.recordTraffic(batch.data(), batch.size());
        }
    }

    for (int offset = 0; offset < 8; ++offset) {
        const auto reg = static_cast<Signal>(timeline::kRegister0 + offset);
        ASSERT_EQ(recorder.size(reg), capacity) << offset;
        EXPECT_EQ(recorder.firstSequence(reg), ticks - capacity) << offset;
    }
    const auto reg0 = timeline::kRegister0;
    const size_t oldestTick = ticks - capacity;
    EXPECT_EQ(recorder.at(reg0, 0).timeUs, static_cast<int64_t>(1000 * (oldestTick + 1)));
    EXPECT_EQ(recorder.at(reg0, 0).value, static_cast<uint8_t>(oldestTick));
    EXPECT_EQ(recorder.at(reg0, capacity - 1).value, static_cast<uint8_t>(ticks - 1));
    EXPECT_EQ(recorder.lowerBound(reg0, recorder.at(reg0, 77).timeUs), 77u);
    EXPECT_EQ(recorder.lowerBound(reg0, recorder.at(reg0, 77).timeUs + 1), 78u);

    // The received bytes of one batch are 1 us apart, after the previous batch.
    const size_t rx = recorder.size(timeline::kPortReceived);
    ASSERT_GE(rx, 4u);
    EXPECT_EQ(recorder.at(timeline::kPortReceived, rx - 1).timeUs,
              recorder.at(timeline::kPortReceived, rx - 2).timeUs + 1);
    EXPECT_EQ(recorder.at(timeline::kPortSent, recorder.size(timeline::kPortSent) - 1).value, 'B');

    size_t bound = 0;
    for (int s = 0; s < timeline::kSignalCount; ++s)
        bound += recorder.capacity(static_cast<Signal>(s)) * sizeof(uint64_t);
    EXPECT_LE(recorder.usedBytes(), bound);

    // Summaries against the records themselves, over ranges of every length and place.
    std::mt19937 random(7);
    const auto reg6 = static_cast<Signal>(timeline::kRegister0 + 6);
    for (int round = 0; round < 2000; ++round) {
        const size_t lo = random() % capacity;
        const size_t hi = lo + random() % (capacity - lo + 1);
        uint8_t expected = 0;
        for (size_t i = std::max<size_t>(lo, 1); i < hi; ++i)
            expected |= recorder.at(reg6, i).value ^ recorder.at(reg6, i - 1).value;
        ASSERT_EQ(recorder.activity(reg6, lo, hi), expected) << lo << ".." << hi;
    }
}

}  // namespace
