// The traffic ring: bounded, in order, and honest about what a slow reader lost.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "comm/traffic_stream.h"

namespace {

std::vector<comm::TrafficEntry> numbered(uint8_t first, size_t count) {
    std::vector<comm::TrafficEntry> entries(count);
    for (size_t i = 0; i < count; ++i) entries[i].value = static_cast<uint8_t>(first + i);
    return entries;
}

TEST(TrafficStream, KeepsTheNewestEntriesInOrderAndCountsWhatASlowReaderLost) {
    comm::TrafficStream stream(8);
    const auto first = numbered(0, 5);
    stream.append(first.data(), first.size());
    // Wraps around the ring, and is itself longer than the ring.
    const auto second = numbered(5, 10);
    stream.append(second.data(), second.size());
    ASSERT_EQ(stream.end(), 15u);

    comm::TrafficEntry out[16];
    const comm::TrafficStream::ReadResult late = stream.read(2, out, 5);
    EXPECT_EQ(late.dropped, 5u);
    ASSERT_EQ(late.count, 5u);
    EXPECT_EQ(late.next, 12u);
    for (size_t i = 0; i < late.count; ++i) EXPECT_EQ(out[i].value, 7 + i) << i;

    const comm::TrafficStream::ReadResult rest = stream.read(late.next, out, 16);
    EXPECT_EQ(rest.dropped, 0u);
    ASSERT_EQ(rest.count, 3u);
    EXPECT_EQ(out[2].value, 14);
    EXPECT_EQ(rest.next, stream.end());

    // A reader waiting at the end is woken by the next append from another thread.
    std::thread writer([&] { stream.appendMark(comm::kTrafficBreak); });
    EXPECT_TRUE(stream.waitBeyond(rest.next, 10'000));
    writer.join();
    ASSERT_EQ(stream.read(rest.next, out, 16).count, 1u);
    EXPECT_TRUE(comm::isTrafficMark(out[0]));

    // Bytes written straight in, more than the ring holds, across its end.
    const uint8_t digits[] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    stream.appendBytes(digits, sizeof digits, comm::kTrafficSent);
    const comm::TrafficStream::ReadResult sent = stream.read(rest.next + 1, out, 16);
    EXPECT_EQ(sent.dropped, 2u);
    ASSERT_EQ(sent.count, 8u);
    EXPECT_EQ(out[0].value, '2');
    EXPECT_EQ(out[7].value, '9');
    EXPECT_EQ(out[7].flags, comm::kTrafficSent);
}

}  // namespace
