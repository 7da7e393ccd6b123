// The simulated serial driver on a simulated PC with a fake clock: COM1 and COM2 on a
// null-modem cable, what the driver does seen in the UARTs' registers; and COM3 on a
// pseudo-terminal in real time.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm.h"
#include "comm/comm_os.h"
#include "comm/traffic_stream.h"
#include "comm_test_support.h"
#include "owner_loop.h"
#include "sim/clock.h"
#include "sim/simulated_pc.h"

namespace {

constexpr uint16_t kCom1 = 0x3F8;
constexpr uint16_t kCom2 = 0x2F8;

// Opens simulated COM n of the test's own PC instead of the process-wide one.
class SimComm : public comm::TComm {
public:
    SimComm(comm::RunOnOwner owner, sim::SimulatedPc& pc, int com)
        : TComm(std::move(owner)), pc_(pc), com_(com) {}
    ~SimComm() override { Close(); }

protected:
    void CreateHandle() override {
        int error = 0;
        std::shared_ptr<comm::OsPort> port = comm::openSimulatedPort(pc_, com_, error);
        if (!port) RaiseCommError("Error accessing specified device", error);
        AttachHandle(port);
    }

private:
    sim::SimulatedPc& pc_;
    int com_;
};

sim::PcConfig nullModemOnly() {
    sim::PcConfig config;
    config.com[2] = config.com[3] = sim::Wiring::Unplugged;
    return config;
}

class SimDriver : public ::testing::Test {
protected:
    // 9600 baud, 8N1: ten bits of 12 x 16 crystal clocks.
    static constexpr int64_t kCharNs = 1'041'667;

    void elapse(int characters) {
        clock.advanceNs(characters * kCharNs);
        pc.serviceWires();
    }
    uint8_t divisorLatch(uint16_t base, bool high) {
        const uint8_t lcr = pc.in(base + 3);
        pc.out(base + 3, lcr | 0x80);
        const uint8_t value = pc.in(base + (high ? 1 : 0));
        pc.out(base + 3, lcr);
        return value;
    }
    sim::Character onWire(uint8_t data, sim::Frame frame) {
        return sim::Character{.data = data, .frame = frame, .endNs = clock.nowNs() + kCharNs};
    }

    sim::FakeClock clock;
    sim::SimulatedPc pc{clock, nullModemOnly()};
    commtest::OwnerLoop loop;
    SimComm com1{loop.runOnOwner(), pc, 1};
    SimComm com2{loop.runOnOwner(), pc, 2};
};

TEST_F(SimDriver, OpenProgramsDivisorFrameModemControlFifoAndInterrupts) {
    com2.Open();
    EXPECT_EQ(divisorLatch(kCom2, false), 12);
    EXPECT_EQ(divisorLatch(kCom2, true), 0);
    EXPECT_EQ(pc.in(kCom2 + 3), 0x03) << "8N1";
    EXPECT_EQ(pc.in(kCom2 + 4), 0x0B) << "DTR, RTS and OUT2";
    EXPECT_EQ(pc.in(kCom2 + 1), 0x0F) << "all four interrupts enabled";
    EXPECT_EQ(pc.in(kCom2 + 2) & 0xC0, 0xC0) << "FIFOs on";

    com2.SetBaudRate(comm::br115200);
    com2.SetParity(comm::paEven);
    com2.SetDatabits(comm::da7);
    com2.SetStopbits(comm::sb20);
    EXPECT_EQ(divisorLatch(kCom2, false), 1);
    EXPECT_EQ(pc.in(kCom2 + 3), 0x1E);
}

TEST_F(SimDriver, RateAPcUartCannotMakeIsRefusedAndCloseDropsTheLines) {
    com2.Open();
    EXPECT_THROW(
        {
            try {
                com2.SetBaudRate(comm::br128000);
            } catch (const comm::ECommError& e) {
                EXPECT_STREQ(e.what(), "Error updating DataControlBlock (Error: 22) ");
                throw;
            }
        },
        comm::ECommError);
    EXPECT_EQ(divisorLatch(kCom2, false), 12) << "still running at the old rate";
    com2.Close();
    EXPECT_EQ(pc.in(kCom2 + 4), 0x00);
    EXPECT_EQ(pc.in(kCom2 + 1), 0x00);
}

TEST_F(SimDriver, SecondOpeningOfAPortIsBusy) {
    com1.Open();
    SimComm again(loop.runOnOwner(), pc, 1);
    try {
        again.Open();
        FAIL() << "opened twice";
    } catch (const comm::ECommError& e) {
        EXPECT_EQ(e.ErrorCode, EBUSY);
    }
    com1.Close();
    EXPECT_NO_THROW(again.Open());
}

TEST_F(SimDriver, BytesSentOnCom2ShowInCom1sRegisters) {
    pc.out(kCom1 + 3, 0x83);
    pc.out(kCom1 + 0, 12);
    pc.out(kCom1 + 1, 0);
    pc.out(kCom1 + 3, 0x03);
    pc.out(kCom1 + 2, 0x07);
    com2.Open();
    ASSERT_EQ(com2.Write("Hi", 2), 2);
    EXPECT_EQ(pc.in(kCom2 + 5) & 0x60, 0x00) << "THR and shift register busy";
    EXPECT_EQ(pc.in(kCom1 + 5) & 0x01, 0x00) << "nothing arrived yet";
    elapse(3);
    EXPECT_EQ(pc.in(kCom1 + 5) & 0x01, 0x01);
    EXPECT_EQ(pc.in(kCom1), 'H');
    EXPECT_EQ(pc.in(kCom1), 'i');
    EXPECT_EQ(pc.in(kCom1 + 5) & 0x01, 0x00);
}

TEST_F(SimDriver, TextWrittenOnCom2IsReceivedOnCom1ThroughBothDrivers) {
    std::string received;
    com1.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        char buf[64];
        received.append(buf, sender->Read(buf, count));
    };
    bool txEmpty = false;
    com2.OnTxEmpty = [&](comm::TCustomComm*) { txEmpty = true; };
    com1.Open();
    com2.Open();
    ASSERT_EQ(com2.Write("hello", 5), 5);
    elapse(12);  // five characters and the receiver's time-out
    ASSERT_TRUE(loop.pumpUntil([&] { return received == "hello" && txEmpty; })) << received;
}

TEST_F(SimDriver, ModemOutputsOfCom2ReachCom1ThroughTheCable) {
    int dsr = 0, rlsd = 0, cts = 0;
    com1.OnDsr = [&](comm::TCustomComm*) { ++dsr; };
    com1.OnRlsd = [&](comm::TCustomComm*) { ++rlsd; };
    com1.OnCts = [&](comm::TCustomComm*) { ++cts; };
    com1.Open();
    com2.Open();
    // Com2's opening raised its DTR and RTS: those changes are the first events.
    ASSERT_TRUE(loop.pumpUntil([&] { return cts > 0 && dsr > 0 && rlsd > 0; }));
    EXPECT_TRUE(com1.ModemSignal(1));
    EXPECT_TRUE(com1.ModemSignal(2));
    EXPECT_TRUE(com1.ModemSignal(4));
    EXPECT_FALSE(com1.ModemSignal(3)) << "RI is not wired";
    dsr = rlsd = cts = 0;

    com2.SetDtr(false);
    EXPECT_EQ(pc.in(kCom2 + 4) & 0x01, 0);
    ASSERT_TRUE(loop.pumpUntil([&] { return dsr > 0 && rlsd > 0; }));
    EXPECT_FALSE(com1.ModemSignal(2));
    EXPECT_FALSE(com1.ModemSignal(4));
    EXPECT_TRUE(com1.ModemSignal(1));
    EXPECT_EQ(cts, 0);

    // The change carries the time the watcher saw it, not the time the owner, busy elsewhere,
    // got round to the handler.
    int64_t seenUs = 0, handledUs = 0;
    com1.OnCts = [&](comm::TCustomComm* sender) {
        ++cts;
        seenUs = sender->EventTimeUs();
        handledUs = comm::trafficClockUs();
    };
    const int64_t changedUs = comm::trafficClockUs();
    com2.SetRts(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(loop.pumpUntil([&] { return cts > 0; }));
    EXPECT_FALSE(com1.ModemSignal(1));
    EXPECT_GE(seenUs, changedUs);
    EXPECT_GE(handledUs - seenUs, 90'000) << "the event's time is the handler's, not the line's";
}

TEST_F(SimDriver, BreakOnCom2SetsLcrBit6AndReachesCom1) {
    int breaks = 0;
    com1.OnBreak = [&](comm::TCustomComm*) { ++breaks; };
    com1.Open();
    com2.Open();
    com2.SetBreak(true);
    EXPECT_EQ(pc.in(kCom2 + 3) & 0x40, 0x40);
    elapse(2);
    ASSERT_TRUE(loop.pumpUntil([&] { return breaks == 1; }));
    com2.SetBreak(false);
    EXPECT_EQ(pc.in(kCom2 + 3) & 0x40, 0x00);
}

struct LineErrorCase {
    const char* name;
    bool parityError;
    bool otherFrame;
    uint32_t expected;
};

class SimLineErrors : public SimDriver, public ::testing::WithParamInterface<LineErrorCase> {};

TEST_P(SimLineErrors, InjectedErrorIsHandedToOnErrorWithItsFlag) {
    int32_t errors = 0;
    com1.OnError = [&](comm::TCustomComm*, int32_t e) { errors |= e; };
    com1.SetParity(comm::paEven);
    com1.Open();
    const sim::Frame own{12, 0x1B};
    const sim::Frame wrong{6, 0x1B};
    sim::Character c = onWire('x', GetParam().otherFrame ? wrong : own);
    c.parityError = GetParam().parityError;
    pc.injectReceived(1, c);
    elapse(6);
    ASSERT_TRUE(loop.pumpUntil([&] { return errors != 0; }));
    EXPECT_EQ(static_cast<uint32_t>(errors), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Injected, SimLineErrors,
                         ::testing::Values(LineErrorCase{"Parity", true, false, comm::CE_RXPARITY},
                                           LineErrorCase{"Framing", false, true, comm::CE_FRAME}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(SimDriver, InjectedBreakRaisesOnBreakAndDeliversNoData) {
    int breaks = 0;
    int chars = 0;
    com1.OnBreak = [&](comm::TCustomComm*) { ++breaks; };
    com1.OnRxChar = [&](comm::TCustomComm*, int32_t) { ++chars; };
    com1.Open();
    sim::Character c = onWire(0, sim::Frame{});
    c.isBreak = true;
    pc.injectReceived(1, c);
    elapse(6);
    ASSERT_TRUE(loop.pumpUntil([&] { return breaks == 1; }));
    EXPECT_EQ(chars, 0);
}

TEST_F(SimDriver, MoreCharactersThanTheFifoHoldsAtOnceIsAnOverrun) {
    int32_t errors = 0;
    com1.OnError = [&](comm::TCustomComm*, int32_t e) { errors |= e; };
    com1.Open();
    for (int i = 0; i < 20; ++i) {
        sim::Character c = onWire(static_cast<uint8_t>('a' + i), sim::Frame{});
        c.endNs += i * kCharNs;
        pc.injectReceived(1, c);
    }
    elapse(30);
    ASSERT_TRUE(loop.pumpUntil([&] { return errors != 0; }));
    EXPECT_EQ(static_cast<uint32_t>(errors), comm::CE_OVERRUN);
}

// COM1 sends at 8N1 to COM2, which receives first at 8N1, then with even parity (the frames no
// longer match: framing errors), then at 8N1 again; then more characters arrive at once than its
// FIFO holds, and a break. The traffic stream marks each error on its byte and each loss where
// it happened; what Read returns and the events stay as they were.
TEST_F(SimDriver, TrafficStreamMarksEachErrorAtItsPlaceBesideTheUsualEvents) {
    std::string read;
    int32_t errors = 0;
    int breaks = 0;
    com2.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        std::vector<char> buf(static_cast<size_t>(count));
        read.append(buf.data(), static_cast<size_t>(sender->Read(buf.data(), count)));
    };
    com2.OnError = [&](comm::TCustomComm*, int32_t e) { errors |= e; };
    com2.OnBreak = [&](comm::TCustomComm*) { ++breaks; };
    com1.Open();
    com2.Open();
    const auto sendAndWait = [&](const std::string& text) {
        ASSERT_EQ(com1.Write(text.data(), static_cast<int32_t>(text.size())),
                  static_cast<int32_t>(text.size()));
        const size_t until = read.size() + text.size();
        elapse(static_cast<int>(text.size()) + 6);
        ASSERT_TRUE(loop.pumpUntil([&] { return read.size() == until; })) << read;
    };
    sendAndWait("ok");
    com2.SetParity(comm::paEven);
    sendAndWait("AB");
    ASSERT_TRUE(loop.pumpUntil([&] { return errors != 0; }));
    com2.SetParity(comm::paNone);
    sendAndWait("z");

    for (int i = 0; i < 20; ++i) {
        sim::Character c = onWire(static_cast<uint8_t>('a' + i), sim::Frame{});
        c.endNs += i * kCharNs;
        pc.injectReceived(2, c);
    }
    elapse(30);
    ASSERT_TRUE(loop.pumpUntil([&] { return read.size() == 5 + 16; })) << read;
    sim::Character brk = onWire(0, sim::Frame{});
    brk.isBreak = true;
    pc.injectReceived(2, brk);
    elapse(6);
    ASSERT_TRUE(loop.pumpUntil([&] { return breaks == 1; }));

    EXPECT_EQ(commtest::receivedTraffic(*com2.Traffic()),
              "o k A/f B/f z a b c d e f g h i j k l m n o p <overrun> <break>");
    EXPECT_EQ(read, "okABzabcdefghijklmnop");
    EXPECT_EQ(errors, static_cast<int32_t>(comm::CE_FRAME | comm::CE_OVERRUN));
    EXPECT_EQ(commtest::trafficBytes(*com1.Traffic(), true), "okABz");
    EXPECT_EQ(commtest::trafficBytes(*com2.Traffic(), true), "");
}

// A typed rate runs at the nearest divisor of the UART's clock; one too far from any divisor is
// refused like a rate of the list, and the line keeps the rate it had.
TEST_F(SimDriver, TypedRateTakesTheNearestDivisorAndOneTooFarIsRefused) {
    com2.Open();
    com2.SetCustomBaudRate(112000);
    EXPECT_EQ(divisorLatch(kCom2, false), 1);
    EXPECT_EQ(com2.ActualBaudRate(), 115200u);
    EXPECT_STREQ(commtest::raised([&] { com2.SetCustomBaudRate(250000); }).what(),
                 "Error updating DataControlBlock (Error: 22) ");
    EXPECT_EQ(com2.CustomBaudRate(), 112000u);
    EXPECT_EQ(divisorLatch(kCom2, false), 1);
    com2.SetCustomBaudRate(0);
    EXPECT_EQ(com2.ActualBaudRate(), 9600u) << "back to the rate of the list";
    com2.Close();
    EXPECT_EQ(com2.ActualBaudRate(), 0u);
}

// The whole receive path in real time: a program writes lines into COM3's pseudo-terminal as fast
// as it can, the UART runs at 115200, and the owner reads slower than the line into a small
// input queue. The far end of a pty cannot be made to wait by the line, so nothing may be lost
// on the way: not in the UART, not in the driver's queue.
TEST(SimDriverOnAPseudoTerminal, LinesWrittenAtFullSpeedArriveWholeThroughASlowReader) {
    sim::SteadyClock clock;
    sim::PcConfig config = nullModemOnly();
    config.com[2] = sim::Wiring::PseudoTerminal;
    config.serviceThread = true;
    sim::SimulatedPc pc(clock, config);
    commtest::OwnerLoop loop;
    SimComm com3(loop.runOnOwner(), pc, 3);
    com3.SetBaudRate(comm::br115200);
    com3.SetReadBufSize(64);
    std::string received;
    int32_t errors = 0;
    com3.OnError = [&](comm::TCustomComm*, int32_t e) { errors |= e; };
    com3.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        char buf[64];
        received.append(buf, static_cast<size_t>(sender->Read(buf, std::min(count, 64))));
        // A busy owner: more arrives meanwhile than the queue holds.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    com3.Open();
    std::string sent;
    for (int i = 0; i < 200; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, "%08d\r\n", i);
        sent += line;
    }
    const int fd = ::open(pc.ptyPath(3).c_str(), O_WRONLY | O_NOCTTY);
    ASSERT_GE(fd, 0);
    std::thread writer([&] {
        for (size_t at = 0; at < sent.size();) {
            const ssize_t n = ::write(fd, sent.data() + at, sent.size() - at);
            if (n <= 0) return;
            at += static_cast<size_t>(n);
        }
    });
    loop.pumpUntil([&] { return received.size() >= sent.size(); }, std::chrono::seconds(10));
    writer.join();
    ::close(fd);
    EXPECT_EQ(received, sent);
    EXPECT_EQ(errors, 0);
}

// The hooks the driver stands on.
TEST(SimInterruptHook, InterruptReachesTheDriverOnlyThroughOut2) {
    sim::FakeClock clock;
    sim::SimulatedPc pc(clock, nullModemOnly());
    pc.out(kCom1 + 3, 0x03);
    pc.out(kCom1 + 1, 0x01);
    pc.injectReceived(1, sim::Character{.data = 'q', .frame = sim::Frame{}, .endNs = 10});
    clock.advanceNs(100);
    const auto never = [] { return false; };
    EXPECT_FALSE(pc.waitForInterrupt(1, std::chrono::nanoseconds(0), never)) << "OUT2 low";
    pc.out(kCom1 + 4, 0x08);
    EXPECT_TRUE(pc.waitForInterrupt(1, std::chrono::nanoseconds(0), never));
    EXPECT_FALSE(pc.waitForInterrupt(1, std::chrono::seconds(5), [] { return true; }))
        << "a cancelled wait ends at once";
    EXPECT_EQ(pc.in(kCom1), 'q');
    EXPECT_FALSE(pc.waitForInterrupt(1, std::chrono::nanoseconds(0), never));
}

TEST(SimInterruptHook, ParityErrorOnTheWireShowsOnlyWithParityOn) {
    sim::FakeClock clock;
    sim::SimulatedPc pc(clock, nullModemOnly());
    pc.out(kCom1 + 3, 0x03);
    pc.injectReceived(
        1, sim::Character{
               .data = 'p', .frame = sim::Frame{12, 0x03}, .endNs = 10, .parityError = true});
    clock.advanceNs(100);
    EXPECT_EQ(pc.in(kCom1 + 5) & 0x04, 0x00) << "no parity bit to be wrong";
    pc.in(kCom1);
    pc.out(kCom1 + 3, 0x1B);
    pc.injectReceived(
        1, sim::Character{
               .data = 'p', .frame = sim::Frame{12, 0x1B}, .endNs = 200, .parityError = true});
    clock.advanceNs(200);
    EXPECT_EQ(pc.in(kCom1 + 5) & 0x04, 0x04);
}

}  // namespace
