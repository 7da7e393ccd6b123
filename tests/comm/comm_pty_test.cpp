// TComm on real pseudo-terminals: the test holds the master end, the component opens the slave.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm.h"
#include "comm/comm_os.h"
#include "comm/linux_baud.h"
#include "comm/linux_termios.h"
#include "comm/parmrk_decoder.h"
#include "comm_test_support.h"
#include "owner_loop.h"
#include "pseudo_terminal.h"

namespace {

using comm::ECommError;
using comm::TComm;

using commtest::cpuUsWhilePumping;
using commtest::raised;

class PtyComm : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(pty.master, 0);
        comm.SetDeviceName(pty.path);
    }
    void TearDown() override { comm.Close(); }

    termios slaveTermios() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(pty.slave, &t), 0);
        return t;
    }
    void feed(const std::string& bytes) const {
        ASSERT_EQ(::write(pty.master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string drainMaster() const {
        std::string got;
        char buf[4096];
        for (ssize_t n; (n = ::read(pty.master, buf, sizeof buf)) > 0;) got.append(buf, n);
        return got;
    }

    commtest::PseudoTerminal pty;
    commtest::OwnerLoop loop;
    TComm comm{loop.runOnOwner()};
};

TEST(CommDefaults, NewComponentHasTheDocumentedSettings) {
    commtest::OwnerLoop loop;
    TComm comm(loop.runOnOwner());
    EXPECT_EQ(comm.DeviceName(), "Com2");
    EXPECT_EQ(comm.BaudRate(), comm::br9600);
    EXPECT_EQ(comm.Parity(), comm::paNone);
    EXPECT_EQ(comm.Stopbits(), comm::sb10);
    EXPECT_EQ(comm.Databits(), comm::da8);
    EXPECT_EQ(comm.FlowControl(), comm::fcDefault);
    EXPECT_TRUE(comm.Options().empty());
    EXPECT_EQ(comm.ReadBufSize(), 4096);
    EXPECT_EQ(comm.WriteBufSize(), 2048);
    EXPECT_EQ(comm.ReadTimeout(), 1000);
    EXPECT_EQ(comm.WriteTimeout(), 1000);
    EXPECT_EQ(comm.MonitorEvents(), comm::TCommEventTypes::all());
    EXPECT_EQ(comm::eventMask(comm.MonitorEvents()), 0x01FFu);
    EXPECT_EQ(comm.EventChars().XonChar(), 17);
    EXPECT_EQ(comm.EventChars().XoffChar(), 19);
    EXPECT_EQ(comm.EventChars().ErrorChar(), 0);
    EXPECT_EQ(comm.EventChars().EofChar(), 0);
    EXPECT_EQ(comm.EventChars().EvtChar(), 0);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.ProviderType(), -1);
    EXPECT_EQ(comm::ProviderTypeName(comm.ProviderType()), "Unknown provider id");
}

TEST(CommError, MessageEndsWithTheCodeBetweenBlanks) {
    const ECommError e("Port already assigned (open)", -1);
    EXPECT_STREQ(e.what(), "Port already assigned (open) (Error: -1) ");
    EXPECT_EQ(e.ErrorCode, -1);
}

TEST(CommProviderNames, EveryKnownCodeHasItsTextAndOthersAreUnknown) {
    const std::vector<std::pair<int32_t, std::string>> table = {
        {0, "Unspecified"},          {1, "RS-232 serial port"},
        {2, "Parallel port"},        {3, "RS-422 port"},
        {4, "RS-423 port"},          {5, "RS-449 port"},
        {6, "Modem device"},         {0x21, "FAX device"},
        {0x22, "Scanner device"},    {0x100, "Unspecified network bridge"},
        {0x101, "LAT protocol"},     {0x102, "TCP/IP Telnet protocol"},
        {0x103, "X.25 standards"},   {7, "Unknown provider id"},
        {-1, "Unknown provider id"}, {0x104, "Unknown provider id"}};
    for (const auto& [code, text] : table) EXPECT_EQ(comm::ProviderTypeName(code), text) << code;
}

TEST(CommDeviceNames, ComNamesReachTheSimulatedUartOrTtySAndOthersDev) {
    using comm::resolveDeviceName;
    constexpr auto kSim = platform::PortBackend::Simulated;
    constexpr auto kTty = platform::PortBackend::DevPort;
    EXPECT_EQ(resolveDeviceName("Com1", kSim).simulatedCom, 1);
    EXPECT_EQ(resolveDeviceName("cOM4", kSim).simulatedCom, 4);
    EXPECT_EQ(resolveDeviceName("Com1", kTty).path, "/dev/ttyS0");
    EXPECT_EQ(resolveDeviceName("COM12", kTty).path, "/dev/ttyS11");
    EXPECT_EQ(resolveDeviceName("/tmp/x/Com1", kSim).path, "/tmp/x/Com1");
    EXPECT_EQ(resolveDeviceName("/tmp/x/Com1", kSim).simulatedCom, 0);
    EXPECT_EQ(resolveDeviceName("ttyUSB0", kSim).path, "/dev/ttyUSB0");
    EXPECT_EQ(resolveDeviceName("Com", kSim).path, "/dev/Com");
    EXPECT_EQ(resolveDeviceName("Com0", kSim).path, "/dev/Com0");
    EXPECT_EQ(resolveDeviceName("Com1x", kSim).path, "/dev/Com1x");
}

TEST(CommDeviceNames, NetworkNamesGiveHostAndPortAndMalformedOnesNoHost) {
    using comm::DeviceTarget;
    const auto resolve = [](const char* name) {
        return comm::resolveDeviceName(name, platform::PortBackend::Simulated);
    };
    const DeviceTarget rfc = resolve("rfc2217://lab-7.example:2217");
    EXPECT_EQ(rfc.kind, DeviceTarget::kRfc2217);
    EXPECT_EQ(rfc.host, "lab-7.example");
    EXPECT_EQ(rfc.port, 2217);
    const DeviceTarget raw = resolve("socket://[::1]:65535");
    EXPECT_EQ(raw.kind, DeviceTarget::kRawSocket);
    EXPECT_EQ(raw.host, "::1");
    EXPECT_EQ(raw.port, 65535);
    for (const char* bad :
         {"rfc2217://host", "rfc2217://host:", "rfc2217://:80", "rfc2217://h:0",
          "rfc2217://h:65536", "rfc2217://::1:80", "socket://[::1]80", "socket://h:8x"}) {
        EXPECT_TRUE(resolve(bad).host.empty()) << bad;
        EXPECT_NE(resolve(bad).kind, DeviceTarget::kTtyPath) << bad;
    }
    EXPECT_EQ(resolve("/dev/rfc2217://x:1").kind, DeviceTarget::kTtyPath);
}

TEST_F(PtyComm, OpensAPseudoTerminalAndCloseReleasesIt) {
    comm.Open();
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_NE(comm.EventThread(), nullptr);
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
    comm.Close();
    comm.Open();
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(PtyComm, SecondOpeningOfTheSameDeviceIsRefusedAsBusy) {
    comm.Open();
    TComm other(loop.runOnOwner());
    other.SetDeviceName(pty.path);
    const ECommError e = raised([&] { other.Open(); });
    EXPECT_STREQ(e.what(), "Error accessing specified device (Error: 16) ");
    EXPECT_FALSE(other.IsOpen());
}

TEST_F(PtyComm, OpenOnAnOpenPortRaisesAlreadyAssigned) {
    comm.Open();
    const ECommError e = raised([&] { comm.Open(); });
    EXPECT_STREQ(e.what(), "Port already assigned (open) (Error: -1) ");
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(PtyComm, FixedPropertiesAreRefusedWhileOpenButAcceptEqualValues) {
    comm.Open();
    EXPECT_NO_THROW(comm.SetDeviceName(pty.path));
    EXPECT_NO_THROW(comm.SetReadBufSize(4096));
    EXPECT_EQ(raised([&] { comm.SetDeviceName("Com1"); }).ErrorCode, -1);
    EXPECT_EQ(raised([&] { comm.SetReadBufSize(100); }).ErrorCode, -1);
    EXPECT_EQ(raised([&] { comm.SetWriteBufSize(100); }).ErrorCode, -1);
    const ECommError e = raised([&] { comm.SetMonitorEvents({comm::evRxChar}); });
    EXPECT_STREQ(e.what(), "Port already assigned (open) (Error: -1) ");
    EXPECT_EQ(comm.DeviceName(), pty.path);
    EXPECT_EQ(comm.ReadBufSize(), 4096);
    EXPECT_EQ(comm.WriteBufSize(), 2048);
    EXPECT_EQ(comm.MonitorEvents(), comm::TCommEventTypes::all());
    comm.Close();
    comm.SetReadBufSize(2048);
    EXPECT_EQ(comm.ReadBufSize(), 2048);
}

TEST_F(PtyComm, LineSettingsWhileClosedAreStoredAndAppliedByOpen) {
    comm.SetBaudRate(comm::br115200);
    EXPECT_EQ(comm.BaudRate(), comm::br115200);
    termios before = slaveTermios();
    EXPECT_EQ(::cfgetospeed(&before), B38400) << "the pty's own setting, untouched";
    comm.Open();
    termios t = slaveTermios();
    EXPECT_EQ(::cfgetospeed(&t), B115200);
}

TEST_F(PtyComm, LineSettingsWhileOpenAreAppliedAtOnce) {
    comm.Open();
    comm.SetBaudRate(comm::br19200);
    termios t = slaveTermios();
    EXPECT_EQ(::cfgetospeed(&t), B19200);
    comm.SetStopbits(comm::sb20);
    EXPECT_TRUE(slaveTermios().c_cflag & CSTOPB);
}

TEST_F(PtyComm, OutOfRangeOrdinalsKeepTheOldValue) {
    comm.Open();
    comm.SetBaudRate(static_cast<comm::TBaudrate>(15));
    comm.SetBaudRate(static_cast<comm::TBaudrate>(255));
    comm.SetParity(static_cast<comm::TParity>(5));
    comm.SetStopbits(static_cast<comm::TStopbits>(3));
    comm.SetDatabits(static_cast<comm::TDatabits>(5));
    comm.SetFlowControl(static_cast<comm::TFlowControl>(5));
    EXPECT_EQ(comm.BaudRate(), comm::br9600);
    EXPECT_EQ(comm.Parity(), comm::paNone);
    EXPECT_EQ(comm.Stopbits(), comm::sb10);
    EXPECT_EQ(comm.Databits(), comm::da8);
    EXPECT_EQ(comm.FlowControl(), comm::fcDefault);
    EXPECT_EQ(comm.CurrentDcb().BaudRate, 9600u);
}

struct RateCase {
    comm::TBaudrate rate;
    uint32_t bitsPerSecond;
};

class PtyRates : public PtyComm, public ::testing::WithParamInterface<RateCase> {};

TEST_P(PtyRates, EveryRateReachesTheTtyIncludingNonStandardOnes) {
    comm.SetBaudRate(GetParam().rate);
    comm.Open();
    uint32_t speed = 0;
    ASSERT_EQ(comm::linux_baud::getLineSpeed(pty.slave, speed), 0);
    EXPECT_EQ(speed, GetParam().bitsPerSecond);
    EXPECT_EQ(comm.CurrentDcb().BaudRate, GetParam().bitsPerSecond);
}

INSTANTIATE_TEST_SUITE_P(
    AllRates, PtyRates,
    ::testing::Values(RateCase{comm::br110, 110}, RateCase{comm::br300, 300},
                      RateCase{comm::br600, 600}, RateCase{comm::br1200, 1200},
                      RateCase{comm::br2400, 2400}, RateCase{comm::br4800, 4800},
                      RateCase{comm::br9600, 9600}, RateCase{comm::br14400, 14400},
                      RateCase{comm::br19200, 19200}, RateCase{comm::br38400, 38400},
                      RateCase{comm::br56000, 56000}, RateCase{comm::br57600, 57600},
                      RateCase{comm::br115200, 115200}, RateCase{comm::br128000, 128000},
                      RateCase{comm::br256000, 256000}),
    [](const auto& testCase) { return "Baud" + std::to_string(testCase.param.bitsPerSecond); });

// A pseudo-terminal keeps only 8-bit words without parity, so the mapping is checked on the
// termios record itself.
TEST(CommTermios, FrameSettingsMapToTermiosBits) {
    struct Case {
        uint8_t parity;
        tcflag_t bits;
    };
    for (const Case& c : {Case{0, 0}, Case{1, PARENB | PARODD}, Case{2, PARENB},
                          Case{3, PARENB | CMSPAR | PARODD}, Case{4, PARENB | CMSPAR}}) {
        termios t{};
        comm::Dcb dcb;
        dcb.Parity = c.parity;
        ASSERT_EQ(comm::termiosFromDcb(dcb, t), 0);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.bits) << int(c.parity);
    }
    const std::pair<uint8_t, tcflag_t> sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (const auto& [bits, size] : sizes) {
        termios t{};
        t.c_cflag = CS8;
        comm::Dcb dcb;
        dcb.ByteSize = bits;
        ASSERT_EQ(comm::termiosFromDcb(dcb, t), 0);
        EXPECT_EQ(t.c_cflag & CSIZE, size);
    }
    for (uint8_t stop : {1, 2}) {
        termios t{};
        comm::Dcb dcb;
        dcb.StopBits = stop;
        ASSERT_EQ(comm::termiosFromDcb(dcb, t), 0);
        EXPECT_TRUE(t.c_cflag & CSTOPB);
    }
    termios t{};
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_oflag = OPOST;
    t.c_iflag = ICRNL | IXON;
    t.c_cflag = CSTOPB | CRTSCTS;
    ASSERT_EQ(comm::termiosFromDcb(comm::Dcb{}, t), 0);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG)) << "raw mode";
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_iflag & (ICRNL | IXON));
    EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(CommTermios, DcbsNoUartCanRunAreRefused) {
    for (auto broken :
         {+[](comm::Dcb& d) { d.ByteSize = 4; }, +[](comm::Dcb& d) { d.ByteSize = 9; },
          +[](comm::Dcb& d) { d.Parity = 5; }, +[](comm::Dcb& d) { d.StopBits = 3; },
          +[](comm::Dcb& d) { d.BaudRate = 0; }}) {
        comm::Dcb dcb;
        broken(dcb);
        termios t{};
        t.c_cflag = CS7;
        EXPECT_EQ(comm::termiosFromDcb(dcb, t), EINVAL);
        EXPECT_EQ(t.c_cflag, static_cast<tcflag_t>(CS7));
    }
}

// A pseudo-terminal keeps only 8-bit words without parity, whatever tcsetattr answers. What it
// does not take is refused, the port runs on as it was, and the refused value is not kept to
// spoil the next change.
TEST_F(PtyComm, LineSettingsThePortDoesNotTakeAreRefusedAndDoNotSpoilTheNext) {
    comm.Open();
    comm.SetBaudRate(comm::br19200);
    const auto refused = [&](const std::function<void()>& change) {
        EXPECT_STREQ(raised(change).what(), "Error updating DataControlBlock (Error: 22) ");
        const termios t = slaveTermios();
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
        EXPECT_EQ(::cfgetospeed(&t), B19200);
    };
    for (comm::TDatabits bits : {comm::da4, comm::da5, comm::da6, comm::da7}) {
        refused([&] { comm.SetDatabits(bits); });
        EXPECT_EQ(comm.Databits(), comm::da8);
    }
    for (comm::TParity parity : {comm::paOdd, comm::paEven, comm::paMark, comm::paSpace}) {
        refused([&] { comm.SetParity(parity); });
        EXPECT_EQ(comm.Parity(), comm::paNone);
    }
    comm.SetBaudRate(comm::br57600);
    comm.SetStopbits(comm::sb20);
    termios t = slaveTermios();
    EXPECT_EQ(::cfgetospeed(&t), B57600);
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    // Refused while opening: the port is closed again, and the stored frame becomes the one the
    // port ran, so the next opening is not refused for it.
    comm.Close();
    comm.SetDatabits(comm::da7);
    EXPECT_EQ(raised([&] { comm.Open(); }).ErrorCode, EINVAL);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.Databits(), comm::da8);
    comm.SetBaudRate(comm::br9600);
    comm.Open();
    t = slaveTermios();
    EXPECT_EQ(::cfgetospeed(&t), B9600);
}

TEST_F(PtyComm, FlowControlPresetsAndOptionsBuildTheFlagWordAndTermios) {
    comm.Open();
    comm.SetFlowControl(comm::fcCTS);
    comm.SetOptions({comm::coParityCheck, comm::coDsrSensitivity, comm::coIgnoreXOff,
                     comm::coErrorChar, comm::coNullStrip});
    EXPECT_EQ(comm.CurrentDcb().Flags, 0x2CC7u);
    termios t = slaveTermios();
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));

    comm.SetOptions({});
    comm.SetFlowControl(comm::fcSoftware);
    EXPECT_EQ(comm.CurrentDcb().Flags, 0x0301u);
    t = slaveTermios();
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | PARMRK),
              static_cast<tcflag_t>(IXON | IXOFF | INPCK | PARMRK))
        << "errors are marked in the data whether the program checks parity or not";

    comm.SetFlowControl(comm::fcDTR);
    EXPECT_EQ(comm.CurrentDcb().Flags, 0x0029u);
    comm.SetFlowControl(comm::fcNone);
    EXPECT_EQ(comm.CurrentDcb().Flags, 0x0001u) << "DTR and RTS control disabled, no handshake";
    t = slaveTermios();
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
}

TEST_F(PtyComm, DefaultPresetKeepsTheDriversBitsButOptionsDecideTheirFive) {
    termios t = slaveTermios();
    t.c_iflag |= IXON | INPCK;
    ASSERT_EQ(::tcsetattr(pty.slave, TCSANOW, &t), 0);
    comm.SetOptions({comm::coNullStrip});
    comm.Open();
    EXPECT_EQ(comm.CurrentDcb().Flags, 0x1111u | 0x0800u)
        << "binary, DTR and RTS enabled, XON/XOFF output as the tty had it; its parity check gone";
    comm.SetOptions({});
    EXPECT_EQ(comm.CurrentDcb().Flags, 0x1111u);
    EXPECT_TRUE(slaveTermios().c_iflag & IXON);
    EXPECT_EQ(slaveTermios().c_iflag & (INPCK | PARMRK), static_cast<tcflag_t>(INPCK | PARMRK))
        << "the parity check is the DCB's; the tty goes on marking errors";
}

TEST_F(PtyComm, XonLimitsAreAQuarterOfTheReadBuffer) {
    comm.Open();
    EXPECT_EQ(comm.CurrentDcb().XonLim, 1024);
    EXPECT_EQ(comm.CurrentDcb().XoffLim, 1024);
    comm.Close();
    comm.SetReadBufSize(2048);
    comm.Open();
    EXPECT_EQ(comm.CurrentDcb().XonLim, 512);
}

TEST_F(PtyComm, EventCharactersReachTheDcbAndTheTty) {
    comm.Open();
    comm.EventChars().SetXonChar('Q');
    comm.EventChars().SetXoffChar('S');
    comm.EventChars().SetEvtChar('\n');
    EXPECT_EQ(slaveTermios().c_cc[VSTART], 'Q');
    EXPECT_EQ(slaveTermios().c_cc[VSTOP], 'S');
    EXPECT_EQ(comm.CurrentDcb().EvtChar, '\n');
    comm::TCommEventChars copy(nullptr);
    copy.Assign(comm.EventChars());
    EXPECT_EQ(copy.XonChar(), 'Q');
    EXPECT_EQ(copy.EvtChar(), '\n');
}

TEST_F(PtyComm, DiskFileIsRefusedAsInvalidHandleAndLeftClosed) {
    char file[] = "/tmp/quillmor-comm-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    comm.SetDeviceName(file);
    const ECommError e = raised([&] { comm.Open(); });
    EXPECT_STREQ(e.what(), "Invalid device handle, access denied (Error: -1) ");
    EXPECT_EQ(e.ErrorCode, -1);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.EventThread(), nullptr);
    ::close(fd);
    ::unlink(file);
}

TEST_F(PtyComm, MissingDeviceRaisesAccessErrorWithTheSystemsNumber) {
    comm.SetDeviceName("/nonexistent/quillmor-port");
    const ECommError e = raised([&] { comm.Open(); });
    EXPECT_EQ(e.ErrorCode, ENOENT);
    EXPECT_EQ(std::string(e.what()),
              "Error accessing specified device (Error: " + std::to_string(ENOENT) + ") ");
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(PtyComm, WriteDeliversToTheFarEndAndZeroBytesWritesNothing) {
    comm.Open();
    EXPECT_EQ(comm.Write("", 0), 0);
    EXPECT_EQ(comm.Write("hello\r\n", 7), 7);
    EXPECT_EQ(pty.receive(7), "hello\r\n") << "raw: no CR/LF translation";
}

TEST_F(PtyComm, TransfersOnAClosedPortRaiseWithTheSystemsNumber) {
    char buf[4];
    ECommError w = raised([&] { comm.Write("x", 1); });
    EXPECT_EQ(std::string(w.what()), "Write error (Error: " + std::to_string(EBADF) + ") ");
    ECommError r = raised([&] { comm.Read(buf, 4); });
    EXPECT_EQ(std::string(r.what()), "Read error (Error: " + std::to_string(EBADF) + ") ");
}

TEST_F(PtyComm, ReceivedBytesAreAnnouncedAndReadAtOnceWithoutWaiting) {
    std::string received;
    std::vector<int32_t> counts;
    comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        EXPECT_EQ(sender, &comm);
        counts.push_back(count);
        char buf[64];
        const int32_t n = comm.Read(buf, count + 10);
        EXPECT_EQ(n, count) << "asks for more than waits, gets what waits";
        received.append(buf, n);
    };
    comm.Open();
    feed("abc");
    ASSERT_TRUE(loop.pumpUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received, "abc");
    char buf[8];
    EXPECT_EQ(comm.Read(buf, sizeof buf), 0) << "nothing waits: returns at once with none";
}

// While the owner's handler works on what came first, the line is read on into the input queue,
// as a driver fills its queue: the far end gets rid of more than the kernel's own buffer holds
// (about 18 KiB for a pseudo-terminal) before the handler returns, and every byte arrives once,
// in order.
TEST_F(PtyComm, LineIsReadOnWhileTheOwnerHandlesWhatCameBefore) {
    std::string sent(72 * 1024, '\0');
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>('a' + i * 7 % 26);
    std::atomic<size_t> written{0};
    std::thread writer;
    bool allWrittenDuringTheHandler = false;
    std::string received;
    comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        if (!writer.joinable()) {
            writer = std::thread([&] {
                while (written < sent.size()) {
                    pollfd p{pty.master, POLLOUT, 0};
                    if (::poll(&p, 1, 3000) <= 0) return;
                    const ssize_t n =
                        ::write(pty.master, sent.data() + written, sent.size() - written);
                    if (n > 0) written += static_cast<size_t>(n);
                }
            });
            for (int ms = 0; ms < 3000 && written < sent.size(); ++ms)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            allWrittenDuringTheHandler = written == sent.size();
        }
        std::vector<char> buf(static_cast<size_t>(count));
        received.append(buf.data(), static_cast<size_t>(sender->Read(buf.data(), count)));
    };
    comm.Open();
    feed(sent.substr(0, 1));
    written = 1;
    ASSERT_TRUE(loop.pumpUntil([&] { return received.size() >= sent.size(); })) << received.size();
    writer.join();
    EXPECT_TRUE(allWrittenDuringTheHandler) << written;
    EXPECT_TRUE(received == sent);
}

// With errors marked in the data the tty doubles every 0xFF it receives: data that looks like
// its escapes (a break FF 00 00, an error byte FF 00 X) must reach Read and the traffic stream
// as the far end sent it, without a mark; sent bytes follow in the stream.
TEST_F(PtyComm, DataThatLooksLikeErrorEscapesArrivesUnmarkedInReadAndInTheStream) {
    std::string received;
    comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        std::vector<char> buf(static_cast<size_t>(count));
        received.append(buf.data(), static_cast<size_t>(sender->Read(buf.data(), count)));
    };
    comm.SetOptions({comm::coParityCheck});
    comm.Open();
    const std::string data(
        "A\xFF\x00\x00"
        "B\xFF\x00"
        "C\xFF\xFF"
        "D\xFF",
        12);
    feed(data);
    ASSERT_TRUE(loop.pumpUntil([&] { return received.size() >= data.size(); })) << received.size();
    EXPECT_EQ(received, data);
    EXPECT_EQ(commtest::receivedTraffic(*comm.Traffic()), "A FF 00 00 B FF 00 C FF FF D FF");
    ASSERT_EQ(comm.Write("ok", 2), 2);
    EXPECT_EQ(drainMaster(), "ok");
    EXPECT_EQ(commtest::trafficBytes(*comm.Traffic(), true), "ok");
}

// What a serial tty hands over with errors marked: a data byte 0xFF, a byte with a parity error
// and a break in one stream, cut into two reads at every place.
TEST(ParmrkDecoding, DataFFErrorByteAndBreakAreToldApartWhereverTheReadsAreCut) {
    const uint8_t raw[] = {'a',  0xFF, 0xFF, 'b', 0xFF, 0x00, 'X',
                           0xFF, 0x00, 0x00, 'c', 0xFF, 0xFF};
    const auto describe = [](const comm::ParmrkDecoder::Item* items, size_t count) {
        std::string words;
        for (size_t i = 0; i < count; ++i) {
            static const char* const kKinds[] = {"", "!", "<break>"};
            words += std::to_string(items[i].value) + kKinds[items[i].kind] + " ";
        }
        return words;
    };
    for (size_t cut = 0; cut <= sizeof raw; ++cut) {
        comm::ParmrkDecoder decoder;
        comm::ParmrkDecoder::Item items[comm::ParmrkDecoder::maxItems(sizeof raw) * 2];
        size_t count = decoder.decode(raw, cut, items);
        count += decoder.decode(raw + cut, sizeof raw - cut, items + count);
        EXPECT_EQ(describe(items, count), "97 255 98 88! 0<break> 99 255 ") << "cut at " << cut;
        EXPECT_FALSE(decoder.midEscape());
    }
}

// A rate typed in goes to the line through the kernel's arbitrary-rate interface and is what
// the far end reads back; 0 returns to the rate of the list.
TEST_F(PtyComm, TypedRateIsWhatTheFarEndReadsBackAndZeroReturnsToTheList) {
    comm.Open();
    comm.SetCustomBaudRate(250000);
    uint32_t farEnd = 0;
    ASSERT_EQ(comm::linux_baud::getLineSpeed(pty.master, farEnd), 0);
    EXPECT_EQ(farEnd, 250000u);
    EXPECT_EQ(comm.ActualBaudRate(), 250000u);
    comm.SetBaudRate(comm::br19200);
    EXPECT_EQ(comm.ActualBaudRate(), 250000u) << "the typed rate wins over the list";
    comm.SetCustomBaudRate(0);
    ASSERT_EQ(comm::linux_baud::getLineSpeed(pty.master, farEnd), 0);
    EXPECT_EQ(farEnd, 19200u);
    comm.Close();
    EXPECT_EQ(comm.ActualBaudRate(), 0u);
}

TEST_F(PtyComm, ReadNeverWritesPastTheCountGiven) {
    std::string got;
    comm.OnRxChar = [&](comm::TCustomComm*, int32_t) {
        for (;;) {
            char buf[4] = {'-', '-', '-', '-'};
            const int32_t n = comm.Read(buf, 2);
            EXPECT_EQ(buf[2], '-');
            if (n <= 0) break;
            got.append(buf, n);
        }
    };
    comm.Open();
    feed("0123456789");
    ASSERT_TRUE(loop.pumpUntil([&] { return got.size() == 10; }));
    EXPECT_EQ(got, "0123456789");
}

TEST_F(PtyComm, WriteTimesOutWhenTheFarEndTakesNothingAndTheNextWriteIsItsOwn) {
    comm.SetWriteTimeout(20);
    comm.Open();
    const std::string block(4096, 'x');
    int32_t result = 0;
    for (int i = 0; i < 1000 && result != -1; ++i) result = comm.Write(block.data(), 4096);
    ASSERT_EQ(result, -1) << "a pty that nobody reads fills up";
    const std::string arrived = drainMaster();
    comm.SetWriteTimeout(1000);
    EXPECT_EQ(comm.Write("END", 3), 3);
    const std::string tail = pty.receive(3);
    ASSERT_GE(tail.size(), 3u);
    EXPECT_EQ(tail.substr(tail.size() - 3), "END");
    // The traffic stream counts as sent what the tty took of the write that timed out, no more.
    EXPECT_EQ(commtest::trafficBytes(*comm.Traffic(), true).size(), arrived.size() + tail.size());
}

TEST_F(PtyComm, XoffStopsOutputAndXonResumesIt) {
    comm.SetWriteTimeout(20);
    comm.Open();
    comm.SetXon(false);
    const std::string block(8192, 'y');
    int32_t result = 0;
    for (int i = 0; i < 100 && result != -1; ++i) result = comm.Write(block.data(), 8192);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(drainMaster(), "") << "nothing left while held by XOFF";
    comm.SetXon(true);
    EXPECT_EQ(comm.Write("go", 2), 2);
    EXPECT_FALSE(pty.receive(2).empty());
}

TEST_F(PtyComm, BreakThrowsAwayWhatWaitsInTheInputQueue) {
    int announced = 0;
    comm.OnRxChar = [&](comm::TCustomComm*, int32_t) { ++announced; };
    comm.Open();
    feed("stale");
    ASSERT_TRUE(loop.pumpUntil([&] { return announced > 0; }));
    comm.SetBreak(true);
    char buf[8];
    EXPECT_EQ(comm.Read(buf, sizeof buf), 0) << "purged after SETBREAK";
    feed("again");
    ASSERT_TRUE(loop.pumpUntil([&] { return announced > 1; }));
    comm.SetBreak(false);
    EXPECT_EQ(comm.Read(buf, sizeof buf), 0) << "purged after CLRBREAK";
}

TEST_F(PtyComm, LineControlOnAClosedPortRaisesPortNotOpen) {
    for (auto call : {&TComm::SetDtr, &TComm::SetRts, &TComm::SetXon, &TComm::SetBreak}) {
        const ECommError e = raised([&] { (comm.*call)(true); });
        EXPECT_STREQ(e.what(), "Port not open, unable to complete operation (Error: -1) ");
    }
}

TEST_F(PtyComm, ModemLinesAPtyLacksAreReportedAsAFailingEscape) {
    comm.Open();
    const ECommError e = raised([&] { comm.SetDtr(true); });
    EXPECT_EQ(std::string(e.what()),
              "EscapeCommFunction failure (Error: " + std::to_string(ENOTTY) + ") ");
    for (int index = 0; index <= 5; ++index) EXPECT_FALSE(comm.ModemSignal(index)) << index;
    EXPECT_EQ(comm.ProviderType(), 1) << "a tty is an RS-232 port, one without modem lines too";
}

TEST_F(PtyComm, ClosedComponentAnswersNoModemSignal) {
    for (int index = 1; index <= 4; ++index) EXPECT_FALSE(comm.ModemSignal(index));
}

TEST_F(PtyComm, EventCharacterRaisesRxFlagAfterRxChar) {
    std::vector<std::string> order;
    comm.OnRxChar = [&](comm::TCustomComm*, int32_t count) {
        order.push_back("rx");
        std::vector<char> buf(count);
        comm.Read(buf.data(), count);
    };
    comm.OnRxFlag = [&](comm::TCustomComm*) { order.push_back("flag"); };
    comm.EventChars().SetEvtChar('\n');
    comm.Open();
    feed("line\n");
    ASSERT_TRUE(loop.pumpUntil([&] { return order.size() >= 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"rx", "flag"}));
}

TEST_F(PtyComm, FarEndClosedIsReportedOnceWithoutSpinningAndCloseWorks) {
    std::vector<int32_t> errors;
    comm.OnError = [&](comm::TCustomComm*, int32_t e) { errors.push_back(e); };
    comm.Open();
    ::close(pty.master);
    pty.master = -1;
    ASSERT_TRUE(loop.pumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors.front(), static_cast<int32_t>(comm::CE_IOE));

    EXPECT_LT(cpuUsWhilePumping(loop, std::chrono::milliseconds(200)), 100000)
        << "a gone device must not keep a core busy";
    EXPECT_EQ(errors.size(), 1u);

    char buf[4];
    EXPECT_EQ(raised([&] { comm.Read(buf, 4); }).ErrorCode, EIO);
    EXPECT_EQ(raised([&] { comm.Write("x", 1); }).ErrorCode, EIO);
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
}

// Character devices that are not ttys: /dev/null is at its end for good, /dev/zero always has
// more. Their opening fails, and nothing of it may go on: no watcher waking at once again and
// again (a spinning watcher takes the whole half second), no handovers flooding the owner.
TEST(CommOtherDevices, NullAndZeroNeitherSpinTheWatcherNorFloodTheOwner) {
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        commtest::OwnerLoop loop;
        TComm comm(loop.runOnOwner());
        comm.SetDeviceName(device);
        int handovers = 0;
        comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
            ++handovers;
            std::vector<char> buf(static_cast<size_t>(count));
            sender->Read(buf.data(), count);
        };
        EXPECT_STREQ(raised([&] { comm.Open(); }).what(),
                     "Error updating CommTimeouts (Error: 25) ");
        EXPECT_FALSE(comm.IsOpen()) << device;
        EXPECT_LT(cpuUsWhilePumping(loop, std::chrono::milliseconds(500)), 80000) << device;
        EXPECT_EQ(handovers, 0) << device;
    }
}

TEST_F(PtyComm, HandlerExceptionEndsTheWatcherButThePortStaysOpen) {
    int calls = 0;
    comm.OnRxChar = [&](comm::TCustomComm*, int32_t) {
        ++calls;
        throw std::runtime_error("handler failed");
    };
    comm.Open();
    feed("a");
    ASSERT_TRUE(loop.pumpUntil([&] { return comm.EventThread()->Finished(); }));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(comm.IsOpen());
    feed("b");
    loop.pumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(calls, 1) << "no events after the watcher ended";
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
    comm.Open();
    feed("c");
    ASSERT_TRUE(loop.pumpUntil([&] { return calls == 2; })) << "a new opening has a new watcher";
}

TEST_F(PtyComm, CloseInsideAHandlerEndsTheDispatchWithoutDeadlock) {
    int flags = 0;
    comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t) { sender->Close(); };
    comm.OnRxFlag = [&](comm::TCustomComm*) { ++flags; };
    comm.EventChars().SetEvtChar('z');
    comm.Open();
    feed("z");
    ASSERT_TRUE(loop.pumpUntil([&] { return !comm.IsOpen(); }));
    loop.pumpUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_EQ(flags, 0) << "the rest of the mask belonged to the closed handle";
    comm.Open();
    EXPECT_TRUE(comm.IsOpen()) << "the device was released";
}

// Each cycle opens, receives through the watcher and closes; the watcher may be anywhere in
// its turn when Close comes. Under ThreadSanitizer this is the race detector's workload.
TEST_F(PtyComm, ThousandOpenCloseCyclesWithTrafficLeaveNothingBehind) {
    int received = 0;
    comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        char buf[64];
        received += sender->Read(buf, count < 64 ? count : 64);
    };
    for (int cycle = 0; cycle < 1000; ++cycle) {
        comm.Open();
        ASSERT_EQ(comm.Write("ping", 4), 4);
        feed("pong");
        if (cycle % 2 == 0) {
            const int target = received + 4;
            ASSERT_TRUE(loop.pumpUntil([&] { return received >= target; })) << cycle;
        }
        comm.Close();
        drainMaster();
    }
    EXPECT_GE(received, 2000);
}

}  // namespace
