#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "sim/clock.h"
#include "sim/simulated_pc.h"

namespace {

constexpr uint16_t kCom1 = 0x3F8, kCom2 = 0x2F8, kCom3 = 0x3E8;
constexpr uint8_t kThr = 0, kLcr = 3, kMcr = 4, kLsr = 5, kMsr = 6;
constexpr uint8_t kDataReady = 0x01, kFramingError = 0x08, kTemt = 0x40;
// 9600 baud 8N1 (the power-on divisor 12): ten bits of 16 * 12 / 1843200 s.
constexpr int64_t kCharNs = 1'041'667;

sim::PcConfig wiring(sim::Wiring com1, sim::Wiring com2,
                     sim::Wiring com3 = sim::Wiring::Unplugged) {
    sim::PcConfig config;
    config.com[0] = com1;
    config.com[1] = com2;
    config.com[2] = com3;
    config.com[3] = sim::Wiring::Unplugged;
    return config;
}

class NullModem : public ::testing::Test {
protected:
    sim::FakeClock clock;
    sim::SimulatedPc pc{clock,
                        wiring(sim::Wiring::NullModemToPartner, sim::Wiring::NullModemToPartner)};

    void SetUp() override {
        pc.out(kCom1 + kLcr, 0x03);
        pc.out(kCom2 + kLcr, 0x03);
    }
};

TEST_F(NullModem, ByteArrivesAtThePartnerOneCharacterTimeLater) {
    pc.out(kCom1 + kThr, 'Q');
    clock.advanceNs(kCharNs - 2'000);
    EXPECT_FALSE(pc.in(kCom2 + kLsr) & kDataReady) << "arrived before its stop bit";
    EXPECT_FALSE(pc.in(kCom1 + kLsr) & kTemt);
    clock.advanceNs(4'000);
    EXPECT_TRUE(pc.in(kCom1 + kLsr) & kTemt);
    ASSERT_TRUE(pc.in(kCom2 + kLsr) & kDataReady);
    EXPECT_EQ(pc.in(kCom2 + kThr), 'Q');
    EXPECT_FALSE(pc.in(kCom2 + kLsr) & kDataReady);
}

TEST_F(NullModem, CarriesBothDirections) {
    pc.out(kCom1 + kThr, 'a');
    pc.out(kCom2 + kThr, 'b');
    clock.advanceNs(kCharNs + 1'000);
    EXPECT_EQ(pc.in(kCom2 + kThr), 'a');
    EXPECT_EQ(pc.in(kCom1 + kThr), 'b');
}

TEST_F(NullModem, DifferentDivisorsGiveAFramingError) {
    pc.out(kCom2 + kLcr, 0x83);
    pc.out(kCom2 + 0, 1);  // COM2 at 115200, COM1 stays at 9600
    pc.out(kCom2 + 1, 0);
    pc.out(kCom2 + kLcr, 0x03);
    pc.out(kCom1 + kThr, 'x');
    clock.advanceNs(kCharNs + 1'000);
    EXPECT_EQ(pc.in(kCom2 + kLsr) & (kDataReady | kFramingError), kDataReady | kFramingError);
}

TEST_F(NullModem, RtsAndDtrReachThePartnersCtsDsrAndDcd) {
    pc.in(kCom2 + kMsr);
    pc.out(kCom1 + kMcr, 0x02);  // RTS
    EXPECT_EQ(pc.in(kCom2 + kMsr), 0x11) << "CTS with its delta";
    pc.out(kCom1 + kMcr, 0x03);  // RTS and DTR
    EXPECT_EQ(pc.in(kCom2 + kMsr), 0xB0 | 0x0A) << "CTS, DSR, DCD; deltas of DSR and DCD";
    pc.out(kCom1 + kMcr, 0x00);
    EXPECT_EQ(pc.in(kCom2 + kMsr), 0x0B) << "all dropped, three deltas";
    EXPECT_EQ(pc.in(kCom1 + kMsr) & 0xF0, 0x00) << "COM2 raised nothing";
}

TEST(LoopbackPlug, SendsTheUartsOwnBytesAndSignalsBack) {
    sim::FakeClock clock;
    sim::SimulatedPc pc(clock, wiring(sim::Wiring::LoopbackPlug, sim::Wiring::Unplugged));
    pc.out(kCom1 + kLcr, 0x03);
    pc.out(kCom1 + kMcr, 0x03);
    EXPECT_EQ(pc.in(kCom1 + kMsr) & 0xF0, 0xB0);
    pc.out(kCom1 + kThr, 'L');
    clock.advanceNs(kCharNs + 1'000);
    EXPECT_EQ(pc.in(kCom1 + kThr), 'L');
}

TEST(Unplugged, TransmitterStillRunsAndNothingArrives) {
    sim::FakeClock clock;
    sim::SimulatedPc pc(clock, wiring(sim::Wiring::Unplugged, sim::Wiring::Unplugged));
    pc.out(kCom1 + kThr, 'z');
    clock.advanceNs(kCharNs + 1'000);
    EXPECT_EQ(pc.in(kCom1 + kLsr), 0x60);
}

// The pty tests use the kernel's real tty layer: another process opens the slave end.
class PseudoTerminal : public ::testing::Test {
protected:
    sim::FakeClock clock;
    sim::SimulatedPc pc{
        clock, wiring(sim::Wiring::Unplugged, sim::Wiring::Unplugged, sim::Wiring::PseudoTerminal)};

    void SetUp() override {
        ASSERT_FALSE(pc.ptyPath(3).empty());
        pc.out(kCom3 + kLcr, 0x03);
    }

    // Runs a child process that opens the slave, writes `text` and exits; returns once it has.
    void childWrites(const std::string& text) {
        std::string path = pc.ptyPath(3);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY);
            bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    // What the UART received, stepping the fake clock a character at a time.
    std::string receive(size_t count) {
        std::string got;
        for (int step = 0; step < 200 && got.size() < count; ++step) {
            pc.serviceWires();
            clock.advanceNs(kCharNs);
            while (pc.in(kCom3 + kLsr) & kDataReady) got.push_back(static_cast<char>(pc.in(kCom3)));
        }
        return got;
    }
};

TEST_F(PseudoTerminal, BytesWrittenByAnotherProcessArriveInRbr) {
    childWrites("hello");
    EXPECT_EQ(receive(5), "hello");
}

TEST_F(PseudoTerminal, ReceiverTakesBytesAtTheLineRateNotAllAtOnce) {
    pc.out(kCom3 + 2, 0x01);  // FIFOs on, so nothing is overrun while we wait
    childWrites("0123456789");
    pc.serviceWires();
    clock.advanceNs(3 * kCharNs + 1'000);
    std::string got;
    while (pc.in(kCom3 + kLsr) & kDataReady) got.push_back(static_cast<char>(pc.in(kCom3)));
    EXPECT_EQ(got, "012");
}

TEST_F(PseudoTerminal, BytesSentThroughThrComeOutOfTheSlave) {
    int fd = ::open(pc.ptyPath(3).c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    pc.out(kCom3 + kThr, 'O');
    pc.out(kCom3 + kThr, 'K');
    clock.advanceNs(2 * kCharNs + 1'000);
    pc.serviceWires();
    std::string got;
    for (int i = 0; i < 20 && got.size() < 2; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 500) <= 0) break;
        char buf[8];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    EXPECT_EQ(got, "OK");
}

TEST_F(PseudoTerminal, FarEndClosingLeavesTheUartWorkingAndANewProgramCanAttach) {
    childWrites("a");
    EXPECT_EQ(receive(1), "a");
    pc.out(kCom3 + kThr, '!');  // nobody listens now: the byte must not block anything
    clock.advanceNs(kCharNs + 1'000);
    pc.serviceWires();
    EXPECT_EQ(pc.in(kCom3 + kLsr) & 0x61, 0x60) << "transmitter idle, nothing received";
    childWrites("b");
    EXPECT_EQ(receive(1), "b");
}

TEST(PseudoTerminalServiceThread, IdleAfterTheFarEndExitsWithoutSpinningAndAWriteWakesIt) {
    sim::SteadyClock clock;
    sim::PcConfig config =
        wiring(sim::Wiring::Unplugged, sim::Wiring::Unplugged, sim::Wiring::PseudoTerminal);
    config.serviceThread = true;
    sim::SimulatedPc pc(clock, config);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int fd = ::open(pc.ptyPath(3).c_str(), O_RDWR | O_NOCTTY);
        _exit(fd >= 0 ? 0 : 1);
    }
    waitpid(pid, nullptr, 0);
    // A spinning service thread would burn the whole half second of processor time.
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    getrusage(RUSAGE_SELF, &after);
    auto cpuUs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1'000'000L + r.ru_utime.tv_usec +
               r.ru_stime.tv_usec;
    };
    EXPECT_LT(cpuUs(after) - cpuUs(before), 100'000);

    // The idle thread sleeps with no time-out: a byte written to THR must still come out.
    int fd = ::open(pc.ptyPath(3).c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    pc.out(kCom3 + kLcr, 0x03);
    pc.out(kCom3 + kThr, 'W');
    pollfd slave{fd, POLLIN, 0};
    char got = 0;
    if (::poll(&slave, 1, 2000) == 1) {
        ASSERT_EQ(::read(fd, &got, 1), 1);
    }
    ::close(fd);
    EXPECT_EQ(got, 'W');
}

// Two copies of the simulated PC at once, the first finding a link its predecessor left when it
// died: each copy's links lead to its own pty, and each removes exactly its own at the end.
TEST(PseudoTerminalLinks, ASecondCopyLinksNamesOfItsOwnAndEachRemovesItsLinksAtTheEnd) {
    char folderTemplate[] = "/tmp/quillmor-links-XXXXXX";
    ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    const std::string com3 = folder + "/com3", com3second = folder + "/com3-2";
    ASSERT_EQ(::symlink("/dev/pts/999999", com3.c_str()), 0);
    const auto target = [](const std::string& link) {
        char path[256];
        const ssize_t length = ::readlink(link.c_str(), path, sizeof path);
        return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string("(none)");
    };
    sim::FakeClock clock;
    sim::PcConfig config =
        wiring(sim::Wiring::Unplugged, sim::Wiring::Unplugged, sim::Wiring::PseudoTerminal);
    config.publishDir = folder;
    {
        auto first = std::make_unique<sim::SimulatedPc>(clock, config);
        EXPECT_EQ(target(com3), first->ptyPath(3));
        {
            sim::SimulatedPc second(clock, config);
            EXPECT_EQ(target(com3), first->ptyPath(3)) << "the second copy took the first's link";
            EXPECT_EQ(target(com3second), second.ptyPath(3));
        }
        EXPECT_EQ(target(com3second), "(none)");
        EXPECT_EQ(target(com3), first->ptyPath(3));
        first.reset();
        // With the first copy gone, a new one takes the plain names again.
        sim::SimulatedPc third(clock, config);
        EXPECT_EQ(target(com3), third.ptyPath(3));
    }
    EXPECT_EQ(target(com3), "(none)");
    EXPECT_EQ(::rmdir(folder.c_str()), 0) << "something was left in " << folder;
}

}  // namespace
