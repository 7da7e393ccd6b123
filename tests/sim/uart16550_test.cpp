#include "sim/uart16550.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace sim {
namespace {

using namespace uart::reg;

class RecordingLine : public SerialLine {
public:
    void transmit(const Character& c) override { sent.push_back(c); }
    void modemOutputsChanged(const ModemOutputs& out, int64_t atNs) override {
        outputs.emplace_back(out, atNs);
    }
    std::vector<Character> sent;
    std::vector<std::pair<ModemOutputs, int64_t>> outputs;
};

// Character times worked out by hand: bits * divisor * 16 / 1843200 s, to the nearest ns.
constexpr int64_t k8N1Div1 = 86806;       // 10 bits
constexpr int64_t k8N1Div12 = 1041667;    // 10 bits
constexpr int64_t k7E2Div12 = 1145833;    // 11 bits
constexpr int64_t k5N15Div1 = 65104;      // 7.5 bits
constexpr int64_t k8N1Div0 = 5688888889;  // divisor 65536

class UartTest : public ::testing::Test {
protected:
    UartTest() {
        uart.attach(&line, 0);
        line.outputs.clear();
    }
    uint8_t rd(uint8_t offset) { return uart.read(offset, now); }
    void wr(uint8_t offset, uint8_t value) { uart.write(offset, value, now); }
    void at(int64_t t) {
        now = t;
        uart.advance(now);
    }
    void program(uint16_t divisor, uint8_t lcr) {
        wr(kLcr, 0x80);
        wr(kRbrThrDll, static_cast<uint8_t>(divisor));
        wr(kIerDlm, static_cast<uint8_t>(divisor >> 8));
        wr(kLcr, lcr);
    }
    // A character from a far end programmed like us, its stop bit ending at endNs.
    void deliver(uint8_t data, int64_t endNs) { uart.receive({data, uart.frame(), false, endNs}); }
    void deliverAll(int count, int64_t endNs) {
        for (int i = 0; i < count; ++i) deliver(static_cast<uint8_t>(i), endNs);
    }

    Uart16550 uart;
    RecordingLine line;
    int64_t now = 0;
};

TEST_F(UartTest, PowerOnRegisterValues) {
    EXPECT_EQ(rd(kIerDlm), 0x00);
    EXPECT_EQ(rd(kIirFcr), 0x01);
    EXPECT_EQ(rd(kLcr), 0x00);
    EXPECT_EQ(rd(kMcr), 0x00);
    EXPECT_EQ(rd(kLsr), 0x60);
    EXPECT_EQ(rd(kMsr), 0x00);
    EXPECT_EQ(rd(kScr), 0x00);
    wr(kLcr, 0x80);
    EXPECT_EQ(rd(kRbrThrDll), 12);
    EXPECT_EQ(rd(kIerDlm), 0);
    EXPECT_EQ(uart.nextEventNs(), std::numeric_limits<int64_t>::max());
}

TEST_F(UartTest, ResetRestoresPowerOnValuesButKeepsDivisorAndModemInputs) {
    program(3, 0x1B);
    wr(kIerDlm, 0x0F);
    wr(kIirFcr, 0xC7);
    wr(kMcr, 0x0F);
    wr(kScr, 0x5A);
    EXPECT_EQ(rd(kScr), 0x5A);
    wr(kRbrThrDll, 'x');
    uart.setModemInputs({.cts = true, .dsr = false, .ri = false, .dcd = true}, now);
    uart.reset(now);
    EXPECT_EQ(rd(kIerDlm), 0x00);
    EXPECT_EQ(rd(kIirFcr), 0x01);
    EXPECT_EQ(rd(kLcr), 0x00);
    EXPECT_EQ(rd(kMcr), 0x00);
    EXPECT_EQ(rd(kLsr), 0x60);
    EXPECT_EQ(rd(kMsr), 0x90) << "inputs show, no deltas";
    EXPECT_EQ(rd(kScr), 0x00);
    EXPECT_EQ(uart.frame().divisor, 3);
    at(100 * k5N15Div1);
    EXPECT_TRUE(line.sent.empty()) << "the transmitter's byte is lost";
}

TEST_F(UartTest, DlabSwitchesOffsetsZeroAndOneToDivisorLatch) {
    wr(kIerDlm, 0x05);
    wr(kLcr, 0x83);
    wr(kRbrThrDll, 0x34);
    wr(kIerDlm, 0x12);
    EXPECT_EQ(rd(kRbrThrDll), 0x34);
    EXPECT_EQ(rd(kIerDlm), 0x12);
    EXPECT_EQ(rd(kLsr), 0x60) << "a DLL write must not reach THR";
    wr(kLcr, 0x03);
    EXPECT_EQ(rd(kIerDlm), 0x05);
    EXPECT_EQ(uart.frame(), (Frame{0x1234, 0x03}));
}

TEST_F(UartTest, IerKeepsOnlyLowNibble) {
    wr(kIerDlm, 0xFF);
    EXPECT_EQ(rd(kIerDlm), 0x0F);
}

TEST_F(UartTest, IirReportsSourcesInPriorityOrderAndEachClearsByItsOwnRule) {
    wr(kIerDlm, 0x0F);  // THRE pending at once: THR is empty
    uart.receive({'a', Frame{6, 0x03}, false, now});
    uart.setModemInputs({.cts = true}, now);
    EXPECT_EQ(rd(kIirFcr), 0x06);
    EXPECT_EQ(rd(kIirFcr), 0x06) << "reading IIR clears only THRE";
    EXPECT_EQ(rd(kLsr) & 0x08, 0x08);
    EXPECT_EQ(rd(kIirFcr), 0x04);
    rd(kRbrThrDll);
    EXPECT_EQ(rd(kIirFcr), 0x02);
    EXPECT_EQ(rd(kIirFcr), 0x00);
    EXPECT_TRUE(uart.interruptPending(now));
    EXPECT_EQ(rd(kMsr), 0x11);
    EXPECT_EQ(rd(kIirFcr), 0x01);
    EXPECT_FALSE(uart.interruptPending(now));
}

TEST_F(UartTest, DisabledSourcesRaiseNoInterrupt) {
    deliver('a', now);
    uart.setModemInputs({.dsr = true}, now);
    EXPECT_EQ(rd(kIirFcr), 0x01);
    EXPECT_FALSE(uart.interruptPending(now));
}

TEST_F(UartTest, EnablingThreWithEmptyThrInterruptsAgainEachTime) {
    wr(kIerDlm, 0x02);
    EXPECT_EQ(rd(kIirFcr), 0x02);
    EXPECT_EQ(rd(kIirFcr), 0x01);
    wr(kIerDlm, 0x03);
    EXPECT_EQ(rd(kIirFcr), 0x01) << "bit 1 was already set: no new edge";
    wr(kIerDlm, 0x00);
    wr(kIerDlm, 0x02);
    EXPECT_EQ(rd(kIirFcr), 0x02);
}

TEST_F(UartTest, ThrWriteClearsThreUntilTheLastByteMovesToShiftRegister) {
    program(1, 0x03);
    wr(kIerDlm, 0x02);
    wr(kRbrThrDll, 'a');  // straight into the idle shift register
    wr(kRbrThrDll, 'b');  // waits in THR
    EXPECT_EQ(rd(kIirFcr), 0x01);
    EXPECT_EQ(rd(kLsr) & 0x60, 0x00);
    now = k8N1Div1 - 1;
    EXPECT_EQ(rd(kIirFcr), 0x01);
    now = k8N1Div1;
    EXPECT_EQ(rd(kLsr) & 0x60, 0x20) << "THRE at load, TEMT not yet";
    EXPECT_EQ(rd(kIirFcr), 0x02);
    now = 2 * k8N1Div1;
    EXPECT_EQ(rd(kLsr) & 0x60, 0x60);
    ASSERT_EQ(line.sent.size(), 2u);
    EXPECT_EQ(line.sent[1].data, 'b');
}

struct TimingCase {
    const char* name;
    uint16_t divisor;
    uint8_t lcr;
    int64_t characterNs;
    uint8_t sentData;  // what 0xFF becomes on the wire
};

class UartTiming : public UartTest, public ::testing::WithParamInterface<TimingCase> {};

TEST_P(UartTiming, ByteLeavesOneCharacterTimeAfterLoadWithTemtThen) {
    const TimingCase& tc = GetParam();
    program(tc.divisor, tc.lcr);
    EXPECT_EQ(uart.characterTimeNs(), tc.characterNs);
    now = 1000;
    wr(kRbrThrDll, 0xFF);
    EXPECT_EQ(rd(kLsr) & 0x60, 0x20);
    EXPECT_EQ(uart.nextEventNs(), 1000 + tc.characterNs);
    now = 1000 + tc.characterNs - 1;
    EXPECT_EQ(rd(kLsr) & 0x60, 0x20);
    EXPECT_TRUE(line.sent.empty());
    now += 1;
    EXPECT_EQ(rd(kLsr) & 0x60, 0x60);
    ASSERT_EQ(line.sent.size(), 1u);
    EXPECT_EQ(line.sent[0].data, tc.sentData);
    EXPECT_EQ(line.sent[0].endNs, now);
    EXPECT_EQ(line.sent[0].frame, uart.frame());
    EXPECT_FALSE(line.sent[0].isBreak);
}

INSTANTIATE_TEST_SUITE_P(Frames, UartTiming,
                         ::testing::Values(TimingCase{"Div1_8N1", 1, 0x03, k8N1Div1, 0xFF},
                                           TimingCase{"Div12_8N1", 12, 0x03, k8N1Div12, 0xFF},
                                           TimingCase{"Div12_7E2", 12, 0x1E, k7E2Div12, 0x7F},
                                           TimingCase{"Div1_5N1half", 1, 0x04, k5N15Div1, 0x1F},
                                           TimingCase{"Div0Is65536_8N1", 0, 0x03, k8N1Div0, 0xFF}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(UartTest, TxFifoSendsBackToBack) {
    program(1, 0x03);
    wr(kIirFcr, 0x01);
    for (uint8_t c : {'a', 'b', 'c'}) wr(kRbrThrDll, c);
    at(10 * k8N1Div1);
    ASSERT_EQ(line.sent.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(line.sent[i].endNs, (i + 1) * k8N1Div1);
}

TEST_F(UartTest, FifoEnableShowsInIirAndModeChangeClearsBothFifos) {
    program(1, 0x03);
    wr(kIirFcr, 0x01);
    EXPECT_EQ(rd(kIirFcr), 0xC1);
    for (uint8_t c : {'a', 'b', 'c'}) wr(kRbrThrDll, c);
    deliverAll(3, now);
    wr(kIirFcr, 0x00);
    EXPECT_EQ(rd(kIirFcr), 0x01);
    EXPECT_EQ(rd(kLsr) & 0x21, 0x20) << "RX empty, TX FIFO empty";
    at(10 * k8N1Div1);
    EXPECT_EQ(line.sent.size(), 1u) << "only the shift register's byte goes out";
}

TEST_F(UartTest, FcrClearBitsEmptyOneFifoEach) {
    program(1, 0x03);
    wr(kIirFcr, 0x01);
    for (uint8_t c : {'a', 'b', 'c'}) wr(kRbrThrDll, c);
    deliverAll(3, now);
    wr(kIirFcr, 0x03);
    EXPECT_EQ(rd(kLsr) & 0x21, 0x00) << "RX cleared, TX still full";
    wr(kIirFcr, 0x05);
    EXPECT_EQ(rd(kLsr) & 0x61, 0x20) << "TX FIFO cleared, shift register still busy";
    at(10 * k8N1Div1);
    EXPECT_EQ(line.sent.size(), 1u);
    EXPECT_EQ(rd(kIirFcr), 0xC1) << "bits 1 and 2 clear themselves, FIFOs stay on";
}

struct TriggerCase {
    uint8_t fcr;
    int level;
};

class UartTrigger : public UartTest, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(UartTrigger, DataInterruptWaitsForTriggerLevel) {
    const auto [fcr, level] = GetParam();
    wr(kIirFcr, fcr);
    wr(kIerDlm, 0x01);
    deliverAll(level - 1, now);
    EXPECT_EQ(rd(kIirFcr), 0xC1);
    deliver('x', now);
    EXPECT_EQ(rd(kIirFcr), 0xC4);
}

INSTANTIATE_TEST_SUITE_P(Levels, UartTrigger,
                         ::testing::Values(TriggerCase{0x01, 1}, TriggerCase{0x41, 4},
                                           TriggerCase{0x81, 8}, TriggerCase{0xC1, 14}),
                         [](const auto& testCase) {
                             return "TriggerLevel" + std::to_string(testCase.param.level);
                         });

TEST_F(UartTest, CharacterTimeoutAfterFourQuietCharacterTimesReArmedByReading) {
    program(1, 0x03);
    wr(kIirFcr, 0x41);
    wr(kIerDlm, 0x01);
    deliverAll(2, 1000);
    now = 1000 + 4 * k8N1Div1 - 1;
    EXPECT_EQ(rd(kIirFcr), 0xC1);
    EXPECT_EQ(uart.nextEventNs(), now + 1);
    now += 1;
    EXPECT_EQ(rd(kIirFcr), 0xCC);
    EXPECT_EQ(rd(kRbrThrDll), 0);
    EXPECT_EQ(rd(kIirFcr), 0xC1);
    now += 4 * k8N1Div1;
    EXPECT_EQ(rd(kIirFcr), 0xCC);
}

TEST_F(UartTest, NoCharacterTimeoutInNonFifoMode) {
    deliver('a', 0);
    at(100 * k8N1Div12);
    EXPECT_EQ(uart.nextEventNs(), std::numeric_limits<int64_t>::max());
    wr(kIerDlm, 0x01);
    EXPECT_EQ(rd(kIirFcr), 0x04);
}

TEST_F(UartTest, ReceivedCharactersAppearAtTheirStopBitInTimeOrder) {
    wr(kLcr, 0x03);
    wr(kIirFcr, 0x01);
    deliver('b', 2000);
    deliver('a', 1000);
    EXPECT_EQ(uart.receiveBacklog(), 2u);
    EXPECT_EQ(uart.nextEventNs(), 1000);
    now = 999;
    EXPECT_EQ(rd(kLsr) & 0x01, 0);
    now = 2000;
    EXPECT_EQ(uart.receiveBacklog(), 2u) << "assembled only when the UART advances";
    EXPECT_EQ(rd(kRbrThrDll), 'a');
    EXPECT_EQ(rd(kRbrThrDll), 'b');
    EXPECT_EQ(rd(kLsr) & 0x01, 0);
    EXPECT_EQ(uart.receiveBacklog(), 0u);
}

TEST_F(UartTest, FifoOverrunKeepsTheFifoAndLosesTheNewCharacter) {
    wr(kIirFcr, 0x01);
    deliverAll(17, now);
    EXPECT_EQ(rd(kLsr) & 0x03, 0x03);
    EXPECT_EQ(rd(kLsr) & 0x03, 0x01);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(rd(kRbrThrDll), i);
    EXPECT_EQ(rd(kLsr) & 0x01, 0);
}

TEST_F(UartTest, LsrReadClearsOverrunButKeepsDataReady) {
    wr(kLcr, 0x03);
    deliver('a', now);
    deliver('b', now);
    EXPECT_EQ(rd(kLsr) & 0x03, 0x03);
    EXPECT_EQ(rd(kLsr) & 0x03, 0x01);
    EXPECT_EQ(rd(kRbrThrDll), 'b') << "the 16450's RBR is overwritten";
    EXPECT_EQ(rd(kLsr) & 0x01, 0);
}

TEST_F(UartTest, ReceivedDataIsMaskedToWordLength) {
    program(12, 0x02);
    deliver(0xFF, now);
    EXPECT_EQ(rd(kRbrThrDll), 0x7F);
}

class UartFraming : public UartTest,
                    public ::testing::WithParamInterface<std::pair<Frame, bool>> {};

TEST_P(UartFraming, CharacterSentWithAnotherFrameHasFramingError) {
    const auto [farFrame, garbled] = GetParam();
    program(12, 0x03);
    uart.receive({'a', farFrame, false, now});
    EXPECT_EQ(rd(kLsr) & 0x08, garbled ? 0x08 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, UartFraming,
    ::testing::Values(std::pair{Frame{12, 0x03}, false}, std::pair{Frame{6, 0x03}, true},
                      std::pair{Frame{12, 0x07}, true}, std::pair{Frame{12, 0x1B}, true}),
    [](const auto& testCase) {
        const Frame& frame = testCase.param.first;
        return "Divisor" + std::to_string(frame.divisor) + "Format" + std::to_string(frame.format);
    });

TEST_F(UartTest, FifoErrorBitsShowWhenTheirCharacterReachesTheTop) {
    wr(kLcr, 0x03);
    wr(kIirFcr, 0x01);
    deliver('a', now);
    uart.receive({'b', Frame{1, 0x03}, false, now});
    deliver('c', now);
    EXPECT_EQ(rd(kLsr) & 0x89, 0x81) << "bit 7 at once, FE not yet";
    EXPECT_EQ(rd(kRbrThrDll), 'a');
    EXPECT_EQ(rd(kLsr) & 0x89, 0x89);
    EXPECT_EQ(rd(kLsr) & 0x89, 0x81) << "FE cleared, error character still held";
    EXPECT_EQ(rd(kRbrThrDll), 'b');
    EXPECT_EQ(rd(kLsr) & 0x89, 0x81) << "bit 7 stays until the next LSR read";
    EXPECT_EQ(rd(kLsr) & 0x89, 0x01);
}

TEST_F(UartTest, BreakLongerThanAFrameGivesTheFarEndOneBreakCharacter) {
    program(1, 0x03);
    now = 500;
    wr(kLcr, 0x43);
    at(500 + k8N1Div1 - 1);
    EXPECT_TRUE(line.sent.empty());
    at(now + 1);
    ASSERT_EQ(line.sent.size(), 1u);
    EXPECT_TRUE(line.sent[0].isBreak);
    EXPECT_EQ(line.sent[0].data, 0);
    EXPECT_EQ(line.sent[0].endNs, now);
    now += 10 * k8N1Div1;
    wr(kLcr, 0x03);
    EXPECT_EQ(line.sent.size(), 1u);
}

TEST_F(UartTest, BreakShorterThanAFrameSendsNothing) {
    program(1, 0x03);
    wr(kLcr, 0x43);
    now = k8N1Div1 / 2;
    wr(kLcr, 0x03);
    at(10 * k8N1Div1);
    EXPECT_TRUE(line.sent.empty());
}

TEST_F(UartTest, CharactersCompletingDuringBreakAreLost) {
    program(1, 0x03);
    wr(kRbrThrDll, 'a');
    wr(kLcr, 0x43);
    now = k8N1Div1;
    wr(kLcr, 0x03);
    ASSERT_EQ(line.sent.size(), 1u);
    EXPECT_TRUE(line.sent[0].isBreak);
    EXPECT_EQ(rd(kLsr) & 0x60, 0x60);
    wr(kRbrThrDll, 'b');
    at(now + k8N1Div1);
    ASSERT_EQ(line.sent.size(), 2u);
    EXPECT_EQ(line.sent[1].data, 'b');
}

TEST_F(UartTest, ReceivedBreakReadsAsZeroWithBreakInterrupt) {
    wr(kIerDlm, 0x04);
    uart.receive({'x', Frame{1, 0x00}, true, now});
    EXPECT_EQ(rd(kIirFcr), 0x06);
    EXPECT_EQ(rd(kLsr) & 0x19, 0x11);
    EXPECT_EQ(rd(kRbrThrDll), 0);
}

TEST_F(UartTest, LoopbackReturnsDataAndBreakToOwnReceiverAndNothingToTheLine) {
    program(1, 0x03);
    wr(kMcr, 0x10);
    wr(kRbrThrDll, 'a');
    now = k8N1Div1;
    EXPECT_EQ(rd(kLsr) & 0x01, 0x01);
    EXPECT_EQ(rd(kRbrThrDll), 'a');
    wr(kLcr, 0x43);
    now += k8N1Div1;
    EXPECT_EQ(rd(kLsr) & 0x11, 0x11);
    EXPECT_TRUE(line.sent.empty());
}

TEST_F(UartTest, LoopbackCutsOffTheWire) {
    wr(kMcr, 0x10);
    deliver('a', now);
    EXPECT_EQ(rd(kLsr) & 0x01, 0);
}

TEST_F(UartTest, LoopbackForcesLineOutputsInactive) {
    wr(kMcr, 0x03);
    wr(kMcr, 0x13);
    wr(kMcr, 0x03);
    using Out = ModemOutputs;
    std::vector<std::pair<ModemOutputs, int64_t>> expected{
        {Out{true, true}, 0}, {Out{}, 0}, {Out{true, true}, 0}};
    EXPECT_EQ(line.outputs, expected);
}

TEST_F(UartTest, ModemOutputChangesAreReportedOnceWithTheirTime) {
    now = 70;
    wr(kMcr, 0x01);
    wr(kMcr, 0x0D);  // OUT1/OUT2 are not on the connector
    now = 90;
    wr(kMcr, 0x03);
    std::vector<std::pair<ModemOutputs, int64_t>> expected{{ModemOutputs{false, true}, 70},
                                                           {ModemOutputs{true, true}, 90}};
    EXPECT_EQ(line.outputs, expected);
    EXPECT_EQ(uart.modemOutputs(), (ModemOutputs{true, true}));
}

// A plug on the connector: what the UART sends comes straight back, from inside its own advance.
class LoopbackPlug : public SerialLine {
public:
    explicit LoopbackPlug(Uart16550& u) : uart_(u) {}
    void transmit(const Character& c) override { uart_.receive(c); }
    void modemOutputsChanged(const ModemOutputs& out, int64_t atNs) override {
        uart_.setModemInputs({.cts = out.rts, .dsr = out.dtr, .dcd = out.dtr}, atNs);
    }

private:
    Uart16550& uart_;
};

TEST_F(UartTest, LineAnsweringFromInsideTransmitIsServedInTheSameAdvance) {
    LoopbackPlug plug(uart);
    uart.attach(&plug, now);
    program(1, 0x03);
    wr(kIirFcr, 0x01);
    for (uint8_t c : {'a', 'b'}) wr(kRbrThrDll, c);
    wr(kMcr, 0x02);
    now = 2 * k8N1Div1;
    EXPECT_EQ(rd(kRbrThrDll), 'a');
    EXPECT_EQ(rd(kRbrThrDll), 'b');
    EXPECT_EQ(rd(kMsr), 0x11);
}

TEST_F(UartTest, BacklogBeyondCapacityDropsTheNewestCharacters) {
    for (size_t i = 0; i <= Uart16550::kReceiveBacklogCapacity; ++i) {
        deliver(static_cast<uint8_t>(i), 1000 + static_cast<int64_t>(i));
    }
    EXPECT_EQ(uart.receiveBacklog(), Uart16550::kReceiveBacklogCapacity);
    EXPECT_EQ(uart.nextEventNs(), 1000);
}

struct LoopbackCase {
    const char* name;
    uint8_t mcr;
    uint8_t msrAfterSet;  // inputs and deltas
    uint8_t msrAfterClear;
};

class UartLoopbackModem : public UartTest, public ::testing::WithParamInterface<LoopbackCase> {};

TEST_P(UartLoopbackModem, OutputDrivesItsInputWithDelta) {
    const LoopbackCase& tc = GetParam();
    wr(kMcr, 0x10 | tc.mcr);
    EXPECT_EQ(rd(kMsr), tc.msrAfterSet);
    wr(kMcr, 0x10);
    EXPECT_EQ(rd(kMsr), tc.msrAfterClear);
}

INSTANTIATE_TEST_SUITE_P(Lines, UartLoopbackModem,
                         ::testing::Values(LoopbackCase{"DtrToDsr", 0x01, 0x22, 0x02},
                                           LoopbackCase{"RtsToCts", 0x02, 0x11, 0x01},
                                           LoopbackCase{"Out1ToRi", 0x04, 0x40, 0x04},
                                           LoopbackCase{"Out2ToDcd", 0x08, 0x88, 0x08}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(UartTest, TeriOnlyOnTrailingEdgeOfRing) {
    uart.setModemInputs({.ri = true}, now);
    EXPECT_EQ(rd(kMsr), 0x40);
    uart.setModemInputs({}, now);
    EXPECT_EQ(rd(kMsr), 0x04);
    EXPECT_EQ(rd(kMsr), 0x00);
}

TEST_F(UartTest, ModemDeltasRaiseInterruptUntilMsrIsRead) {
    wr(kIerDlm, 0x08);
    uart.setModemInputs({.cts = true, .dsr = true, .dcd = true}, now);
    EXPECT_EQ(rd(kIirFcr), 0x00);
    EXPECT_EQ(rd(kIirFcr), 0x00) << "IIR does not clear modem status";
    EXPECT_EQ(rd(kMsr), 0xBB);
    EXPECT_EQ(rd(kIirFcr), 0x01);
    EXPECT_EQ(rd(kMsr), 0xB0);
}

// Chip identification the way an ordinary OS serial driver probes (the steps of Linux's 8250
// autoconfiguration), written out here so a change that makes the model look like another
// chip shows up.
std::string identify(Uart16550& u, int64_t t) {
    auto in = [&](uint8_t offset) { return u.read(offset, t); };
    auto out = [&](uint8_t offset, uint8_t value) { u.write(offset, value, t); };

    const uint8_t savedIer = in(kIerDlm);
    out(kIerDlm, 0x00);
    const uint8_t ierLow = in(kIerDlm)&0x0F;
    out(kIerDlm, 0x0F);
    const uint8_t ierHigh = in(kIerDlm)&0x0F;
    out(kIerDlm, savedIer);
    if (ierLow != 0x00 || ierHigh != 0x0F) return "no UART";

    const uint8_t savedMcr = in(kMcr);
    const uint8_t savedLcr = in(kLcr);
    out(kMcr, 0x1A);  // loopback with RTS and OUT2: CTS and DCD must follow
    const uint8_t msr = in(kMsr)&0xF0;
    out(kMcr, savedMcr);
    if (msr != 0x90) return "no UART";

    out(kLcr, 0xBF);
    out(kIirFcr, 0x00);  // EFR on chips that have one, FCR here
    out(kLcr, 0x00);
    out(kIirFcr, 0x01);
    std::string type;
    switch (in(kIirFcr) >> 6) {
        case 0:
            type = "16450";
            break;
        case 2:
            type = "16550";
            break;
        case 3:
            type = "16550A";
            break;
        default:
            type = "unknown";
    }
    if (type == "16550A") {
        out(kLcr, 0x80);
        const bool efrWithDlab = in(kIirFcr) == 0;
        out(kLcr, 0xBF);
        const bool efrWithBf = in(kIirFcr) == 0;
        out(kLcr, 0x00);
        out(kIirFcr, 0x21);
        const int bigFifo = in(kIirFcr) >> 5;
        out(kIirFcr, 0x01);
        out(kLcr, 0x80);
        out(kIirFcr, 0x21);
        const int bigFifoDlab = in(kIirFcr) >> 5;
        out(kIirFcr, 0x01);
        out(kLcr, 0x00);
        const uint8_t ier = in(kIerDlm);
        out(kIerDlm, ier | 0x50);
        const bool wideIer = (in(kIerDlm)&0x50) != 0;
        out(kIerDlm, ier);
        if (efrWithDlab)
            type = "16650V1";
        else if (efrWithBf)
            type = "16650 with EFR";
        else if (bigFifo == 6 && bigFifoDlab == 7)
            type = "16750";
        else if (bigFifo != 6)
            type = "16550A clone";
        else if (wideIer)
            type = "XScale";
    }
    out(kLcr, savedLcr);
    out(kIirFcr, 0x07);
    out(kIirFcr, 0x00);
    in(kRbrThrDll);
    out(kIerDlm, 0x00);
    return type;
}

TEST_F(UartTest, OsDriverProbeIdentifiesA16550A) {
    EXPECT_EQ(identify(uart, now), "16550A");
    EXPECT_EQ(rd(kIirFcr), 0x01);
    EXPECT_EQ(rd(kLsr), 0x60);
    EXPECT_TRUE(line.sent.empty()) << "the probe runs in loopback or touches no data";
    now = 5;
    uart.reset(now);
    program(1, 0x03);
    wr(kRbrThrDll, 'a');
    EXPECT_EQ(identify(uart, now), "16550A") << "a busy transmitter does not confuse the probe";
}

}  // namespace
}  // namespace sim
