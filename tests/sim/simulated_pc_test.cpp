#include <gtest/gtest.h>

#include "sim/clock.h"
#include "sim/simulated_pc.h"

namespace {

sim::PcConfig unwired() {
    sim::PcConfig config;
    for (auto& w : config.com) w = sim::Wiring::Unplugged;
    return config;
}

class Speaker : public ::testing::Test {
protected:
    sim::FakeClock clock;
    sim::SimulatedPc pc{clock, unwired()};

    void loadChannel2(uint16_t divisor) {
        pc.out(0x43, 0xB6);
        pc.out(0x42, divisor & 0xFF);
        pc.out(0x42, divisor >> 8);
    }
};

TEST_F(Speaker, SoundsTheProgrammedToneOnlyWhileGateAndSpeakerBitsAreOn) {
    EXPECT_FALSE(pc.speakerToneHz());
    loadChannel2(1193);
    EXPECT_FALSE(pc.speakerToneHz()) << "gate still closed";
    pc.out(0x61, pc.in(0x61) | 3);
    ASSERT_TRUE(pc.speakerToneHz());
    EXPECT_NEAR(*pc.speakerToneHz(), 1000.0, 0.5);
    pc.out(0x61, pc.in(0x61) & 0xFC);
    EXPECT_FALSE(pc.speakerToneHz());
}

TEST_F(Speaker, GateWithoutSpeakerDataIsSilent) {
    loadChannel2(5966);
    pc.out(0x61, 0x01);
    EXPECT_FALSE(pc.speakerToneHz());
    pc.out(0x61, 0x03);
    EXPECT_NEAR(*pc.speakerToneHz(), 200.0, 0.1);
}

TEST_F(Speaker, HalfWrittenCountDoesNotRunUntilTheHighByteArrives) {
    pc.out(0x61, 0x03);
    pc.out(0x43, 0xB6);
    pc.out(0x42, 0xA9);
    EXPECT_FALSE(pc.speakerToneHz());
    pc.out(0x42, 0x04);
    EXPECT_TRUE(pc.speakerToneHz());
}

TEST_F(Speaker, CountOfZeroMeans65536) {
    pc.out(0x61, 0x03);
    loadChannel2(0);
    EXPECT_NEAR(*pc.speakerToneHz(), 1193182.0 / 65536.0, 0.01);
}

TEST_F(Speaker, ControlWordsForOtherChannelsLeaveChannel2Alone) {
    pc.out(0x61, 0x03);
    loadChannel2(1193);
    pc.out(0x43, 0x36);  // channel 0, mode 3
    EXPECT_NEAR(*pc.speakerToneHz(), 1000.0, 0.5);
}

TEST_F(Speaker, SystemControlPortReadsBackTheLowBitsWritten) {
    pc.out(0x61, 0xFE);
    EXPECT_EQ(pc.in(0x61), 0x0E);
}

TEST(IoBus, UnclaimedPortsFloatHighAndIgnoreWrites) {
    sim::FakeClock clock;
    sim::SimulatedPc pc(clock, unwired());
    for (uint16_t port : {0x0000, 0x0040, 0x0300, 0x0378, 0x03F7, 0x0400, 0xFFFF}) {
        pc.out(port, 0x12);
        EXPECT_EQ(pc.in(port), 0xFF) << std::hex << port;
    }
}

TEST(IoBus, EachComPortHasItsOwnRegistersAtItsBase) {
    sim::FakeClock clock;
    sim::SimulatedPc pc(clock, unwired());
    const uint16_t bases[] = {0x3F8, 0x2F8, 0x3E8, 0x2E8};
    for (int n = 0; n < 4; ++n) pc.out(bases[n] + 7, static_cast<uint8_t>(0x10 + n));
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(pc.in(bases[n] + 7), 0x10 + n) << "scratch of COM" << n + 1;
        EXPECT_EQ(pc.in(bases[n] + 5), 0x60) << "LSR of COM" << n + 1;
    }
}

// The machine is switched on with its cables plugged in: a pseudo-terminal's asserted CTS, DSR
// and DCD are where MSR starts, not changes with delta bits set.
TEST(IoBus, PowerOnModemStatusShowsTheWiresWithoutDeltas) {
    sim::FakeClock clock;
    sim::PcConfig config = unwired();
    config.com[2] = sim::Wiring::PseudoTerminal;
    sim::SimulatedPc pc(clock, config);
    EXPECT_EQ(pc.in(0x3EE), 0xB0);
}

}  // namespace
