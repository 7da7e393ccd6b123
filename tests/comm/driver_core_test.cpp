#include "comm/driver_core.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using comm::DriverCore;

// The queue keeps its capacity, hands bytes out in order and erases what it handed out.
TEST(DriverCore, QueueHoldsItsCapacityAndReadsThenErases) {
    DriverCore core;
    core.setCapacity(0);
    EXPECT_EQ(core.room(), 1u);
    core.setCapacity(4);
    const uint8_t bytes[] = {'a', 'b', 'c'};
    core.receive(bytes, 3);
    EXPECT_EQ(core.queued(), 3u);
    EXPECT_EQ(core.room(), 1u);
    core.receive(bytes, 1);
    EXPECT_TRUE(core.full());

    std::vector<uint8_t> got(8);
    ASSERT_EQ(core.take(got.data(), 2), 2u);
    EXPECT_EQ(got[0], 'a');
    EXPECT_EQ(got[1], 'b');
    ASSERT_EQ(core.take(got.data(), 8), 2u);
    EXPECT_EQ(got[0], 'c');
    EXPECT_EQ(got[1], 'a');
    EXPECT_EQ(core.take(got.data(), 8), 0u);

    core.receive(bytes, 2);
    core.clearInput();
    EXPECT_EQ(core.queued(), 0u);
}

// Only masked events are kept, a new mask forgets them, the event character raises EV_RXFLAG,
// and errors are handed out once with the event each kind of error is.
TEST(DriverCore, EventsFollowTheMaskAndErrorsAreTakenOnce) {
    DriverCore core;
    const uint8_t plain[] = {'x', 'y'};
    core.receive(plain, 2);
    EXPECT_FALSE(core.waitable());
    EXPECT_FALSE(core.eventsPending());

    core.setMask(comm::EV_RXCHAR | comm::EV_RXFLAG | comm::EV_BREAK | comm::EV_ERR);
    EXPECT_TRUE(core.waitable());
    core.raise(comm::EV_CTS);
    EXPECT_FALSE(core.eventsPending());
    core.receive(plain, 2);
    EXPECT_EQ(core.takeEvents(), comm::EV_RXCHAR);
    EXPECT_EQ(core.takeEvents(), 0u);

    comm::Dcb dcb = core.dcb();
    dcb.EvtChar = '\n';
    core.setDcb(dcb);
    const uint8_t line[] = {'o', 'k', '\n'};
    core.receive(line, 3);
    EXPECT_EQ(core.takeEvents(), comm::EV_RXCHAR | comm::EV_RXFLAG);

    core.reportErrors(comm::CE_BREAK);
    EXPECT_EQ(core.takeEvents(), comm::EV_BREAK);
    core.reportErrors(comm::CE_FRAME | comm::CE_OVERRUN);
    EXPECT_EQ(core.takeEvents(), comm::EV_ERR);
    EXPECT_EQ(core.takeErrors(), comm::CE_BREAK | comm::CE_FRAME | comm::CE_OVERRUN);
    EXPECT_EQ(core.takeErrors(), 0u);

    core.receive(plain, 1);
    core.setMask(comm::EV_RXCHAR);
    EXPECT_FALSE(core.eventsPending());
}

}  // namespace
