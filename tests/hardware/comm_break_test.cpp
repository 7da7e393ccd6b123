// The serial component on the guest's /dev/ttyS1, the kernel's 8250 driver over QEMU's 16550
// with a loopback wire behind it. A break that QEMU puts on the line (scripts/test-hardware
// sends its monitor's chardev-send-break when the guest asks on its console) comes through the
// driver's error marking and the component as a break mark between the bytes around it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "comm/comm.h"
#include "comm_test_support.h"
#include "owner_loop.h"

namespace {

TEST(GuestComm, BreakOnTheLineIsAMarkAtItsPlaceInTheTrafficStream) {
    commtest::OwnerLoop loop;
    comm::TComm comm(loop.runOnOwner());
    std::string received;
    int breaks = 0;
    comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        std::vector<char> buf(static_cast<size_t>(count));
        received.append(buf.data(), static_cast<size_t>(sender->Read(buf.data(), count)));
    };
    comm.OnBreak = [&](comm::TCustomComm*) { ++breaks; };
    comm.SetDeviceName("/dev/ttyS1");
    comm.SetFlowControl(comm::fcNone);
    comm.Open();
    // What goes out comes back over the wire; the break must find the FIFO empty, as QEMU's
    // 16550 shows a break in LSR at once, not when its null byte reaches the top.
    const auto exchange = [&](const std::string& text) {
        const size_t until = received.size() + text.size();
        ASSERT_EQ(comm.Write(text.data(), static_cast<int32_t>(text.size())),
                  static_cast<int32_t>(text.size()));
        ASSERT_TRUE(loop.pumpUntil([&] { return received.size() >= until; })) << received;
    };
    exchange("before");
    std::printf("QUILLMOR-SEND-BREAK\n");
    std::fflush(stdout);
    ASSERT_TRUE(loop.pumpUntil([&] { return breaks > 0; }, std::chrono::seconds(20)));
    exchange("after");

    EXPECT_EQ(commtest::receivedTraffic(*comm.Traffic()), "b e f o r e <break> a f t e r");
    EXPECT_EQ(received, std::string("before\0after", 12)) << "Read gets the break as a NUL";
    EXPECT_EQ(commtest::trafficBytes(*comm.Traffic(), true), "beforeafter");
}

}  // namespace
