// TComm on serial ports shared over the network: rfc2217:// and socket:// names opened against
// ser2net and pyserial's RFC 2217 server, each with a pseudo-terminal behind it whose far end the
// test holds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm.h"
#include "comm/linux_baud.h"
#include "comm_test_support.h"
#include "owner_loop.h"
#include "serial_servers.h"

namespace {

using comm::TComm;
using commtest::raised;
using commtest::ServerKind;

std::string serverName(const ::testing::TestParamInfo<ServerKind>& info) {
    switch (info.param) {
        case ServerKind::kSer2netRfc2217:
            return "Ser2net";
        case ServerKind::kSer2netRaw:
            return "Ser2netRaw";
        case ServerKind::kPyserialRfc2217:
            return "Pyserial";
    }
    return "";
}

// Where two byte strings part, for a message that does not print kilobytes.
std::string firstDifference(const std::string& got, const std::string& want) {
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    return "got " + std::to_string(got.size()) + " of " + std::to_string(want.size()) +
           " bytes, first difference at " + std::to_string(i);
}

class RemotePort : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        server = std::make_unique<commtest::SerialServer>(GetParam());
        if (server->missing()) GTEST_SKIP() << server->failure();
        ASSERT_EQ(server->failure(), "");
        comm.SetDeviceName(server->deviceName());
    }
    void TearDown() override {
        comm.Close();
        if (HasFailure() && server)
            std::fprintf(stderr, "server log:\n%s\n", server->log().c_str());
    }

    termios lineTermios() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(server->line().slave, &t), 0);
        return t;
    }
    uint32_t lineSpeed() const {
        uint32_t speed = 0;
        EXPECT_EQ(comm::linux_baud::getLineSpeed(server->line().slave, speed), 0);
        return speed;
    }

    std::unique_ptr<commtest::SerialServer> server;
    commtest::OwnerLoop loop;
    TComm comm{loop.runOnOwner()};
};

class Rfc2217Port : public RemotePort {};

// A pseudo-terminal keeps only 8-bit words and drops PARENB, so data bits cannot be read back
// and parity shows in PARODD and CMSPAR alone; the speed, stop bits and flow control show whole.
// What each server refuses: ser2net leaves 1.5 stop bits unanswered, pyserial answers 7 data
// bits, which the pseudo-terminal refuses it, with the 8 it kept.
TEST_P(Rfc2217Port, LineSettingsReachThePtyAndOneTheServerRefusesKeepsThePrevious) {
    comm.SetBaudRate(comm::br115200);
    comm.Open();
    EXPECT_EQ(lineSpeed(), 115200u);
    const std::pair<comm::TBaudrate, uint32_t> rates[] = {
        {comm::br110, 110},       {comm::br300, 300},       {comm::br600, 600},
        {comm::br1200, 1200},     {comm::br2400, 2400},     {comm::br4800, 4800},
        {comm::br9600, 9600},     {comm::br14400, 14400},   {comm::br19200, 19200},
        {comm::br38400, 38400},   {comm::br56000, 56000},   {comm::br57600, 57600},
        {comm::br115200, 115200}, {comm::br128000, 128000}, {comm::br256000, 256000}};
    for (const auto& [rate, bitsPerSecond] : rates) {
        comm.SetBaudRate(rate);
        EXPECT_EQ(lineSpeed(), bitsPerSecond);
    }
    comm.SetCustomBaudRate(250000);
    EXPECT_EQ(lineSpeed(), 250000u);
    EXPECT_EQ(comm.ActualBaudRate(), 250000u) << "the rate the server answered";
    comm.SetCustomBaudRate(0);
    EXPECT_EQ(lineSpeed(), 256000u);
    const std::pair<comm::TParity, tcflag_t> parities[] = {{comm::paOdd, PARODD},
                                                           {comm::paEven, 0},
                                                           {comm::paMark, CMSPAR | PARODD},
                                                           {comm::paSpace, CMSPAR}};
    for (const auto& [parity, bits] : parities) {
        comm.SetParity(parity);
        EXPECT_EQ(lineTermios().c_cflag & (PARODD | CMSPAR), bits) << int(parity);
    }
    comm.SetStopbits(comm::sb20);
    EXPECT_TRUE(lineTermios().c_cflag & CSTOPB);
    // pyserial turns one flow control on without turning the other off: the change from one
    // to the other must pass through none.
    comm.SetFlowControl(comm::fcCTS);
    EXPECT_TRUE(lineTermios().c_cflag & CRTSCTS);
    comm.SetFlowControl(comm::fcSoftware);
    EXPECT_FALSE(lineTermios().c_cflag & CRTSCTS);
    EXPECT_EQ(lineTermios().c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    comm.SetFlowControl(comm::fcNone);
    EXPECT_FALSE(lineTermios().c_cflag & CRTSCTS);
    EXPECT_FALSE(lineTermios().c_iflag & (IXON | IXOFF));

    comm.SetBaudRate(comm::br19200);
    if (GetParam() == ServerKind::kSer2netRfc2217) {
        EXPECT_STREQ(raised([&] { comm.SetStopbits(comm::sb15); }).what(),
                     "Error updating DataControlBlock (Error: 22) ");
        EXPECT_EQ(comm.Stopbits(), comm::sb20);
    } else {
        EXPECT_STREQ(raised([&] { comm.SetDatabits(comm::da7); }).what(),
                     "Error updating DataControlBlock (Error: 22) ");
        EXPECT_EQ(comm.Databits(), comm::da8);
    }
    EXPECT_TRUE(lineTermios().c_cflag & CSTOPB);
    EXPECT_EQ(lineSpeed(), 19200u);
    comm.SetStopbits(comm::sb10);
    EXPECT_FALSE(lineTermios().c_cflag & CSTOPB) << "the port takes the next change";
}

// Sixteen rounds of every byte value each way: 255 (Telnet's IAC) and 0 everywhere, across the
// packets of both directions, through Write and through the watcher, OnRxChar and Read.
TEST_P(RemotePort, EveryByteValueCrossesBothWaysInOrder) {
    std::string pattern;
    for (int round = 0; round < 16; ++round)
        for (int value = 0; value < 256; ++value) pattern.push_back(static_cast<char>(value));
    std::string received;
    comm.OnRxChar = [&](comm::TCustomComm* sender, int32_t count) {
        std::vector<char> buf(static_cast<size_t>(count));
        const int32_t n = sender->Read(buf.data(), count);
        EXPECT_EQ(n, count) << "what was announced waits in the queue";
        received.append(buf.data(), static_cast<size_t>(std::max(n, 0)));
    };
    comm.Open();

    const auto size = static_cast<int32_t>(pattern.size());
    ASSERT_EQ(comm.Write(pattern.data(), size), size);
    const std::string atLine = server->line().receive(pattern.size());
    EXPECT_TRUE(atLine == pattern) << firstDifference(atLine, pattern);

    bool sent = false;
    std::thread writer([&] { sent = server->line().send(pattern); });
    loop.pumpUntil([&] { return received.size() >= pattern.size(); });
    writer.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(received == pattern) << firstDifference(received, pattern);
    const std::string streamSent = commtest::trafficBytes(*comm.Traffic(), true);
    const std::string streamReceived = commtest::trafficBytes(*comm.Traffic(), false);
    EXPECT_TRUE(streamSent == pattern) << firstDifference(streamSent, pattern);
    EXPECT_TRUE(streamReceived == pattern) << firstDifference(streamReceived, pattern);
}

// A pseudo-terminal has no break to show: what can be seen is the server taking the command
// (the component waits for its answer; pyserial also logs it) and the line running on.
TEST_P(Rfc2217Port, BreakReachesTheServerAndTheLineRunsOn) {
    comm.Open();
    comm.SetBreak(true);
    comm.SetBreak(false);
    if (GetParam() == ServerKind::kPyserialRfc2217) {
        EXPECT_TRUE(loop.pumpUntil([&] {
            const std::string log = server->log();
            return log.find("changed BREAK to active") != std::string::npos &&
                   log.find("changed BREAK to inactive") != std::string::npos;
        })) << server->log();
    }
    ASSERT_EQ(comm.Write("after", 5), 5);
    EXPECT_EQ(server->line().receive(5), "after");
}

// The server dies with the connection open: the watcher reports the failing port once, as for
// a tty that went away, nothing spins, transfers fail with the connection's error and Close
// releases the port.
TEST_P(RemotePort, DroppedConnectionIsReportedOnceWithoutSpinningAndCloseWorks) {
    std::vector<int32_t> errors;
    comm.OnError = [&](comm::TCustomComm*, int32_t e) { errors.push_back(e); };
    comm.Open();
    server->kill();
    ASSERT_TRUE(loop.pumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors.front(), static_cast<int32_t>(comm::CE_IOE));
    EXPECT_LT(commtest::cpuUsWhilePumping(loop, std::chrono::milliseconds(200)), 100000);
    EXPECT_EQ(errors.size(), 1u);

    const auto connectionError = [](int32_t code) { return code == ECONNRESET || code == EPIPE; };
    char buf[4];
    EXPECT_PRED1(connectionError, raised([&] { comm.Read(buf, 4); }).ErrorCode);
    EXPECT_PRED1(connectionError, raised([&] { comm.Write("x", 1); }).ErrorCode);
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Servers, Rfc2217Port,
                         ::testing::Values(ServerKind::kSer2netRfc2217,
                                           ServerKind::kPyserialRfc2217),
                         serverName);
INSTANTIATE_TEST_SUITE_P(Servers, RemotePort,
                         ::testing::Values(ServerKind::kSer2netRfc2217, ServerKind::kSer2netRaw,
                                           ServerKind::kPyserialRfc2217),
                         serverName);

// Nobody listening: the connection is refused. ser2net listening but unable to open its device:
// it greets, says so in plain text and hangs up, and the opening fails with the connection.
TEST(RemotePortAbsent, AbsentOrDevicelessServerRaisesAccessErrorAtOpen) {
    commtest::OwnerLoop loop;
    TComm comm(loop.runOnOwner());
    const std::string address = "127.0.0.1:" + std::to_string(commtest::SerialServer::freePort());
    for (const std::string scheme : {"rfc2217://", "socket://"}) {
        comm.SetDeviceName(scheme + address);
        EXPECT_STREQ(raised([&] { comm.Open(); }).what(),
                     "Error accessing specified device (Error: 111) ");
        EXPECT_FALSE(comm.IsOpen());
    }

    commtest::SerialServer deviceless(ServerKind::kSer2netRfc2217, "/dev/quillmor-no-such-port");
    if (deviceless.missing()) GTEST_SKIP() << deviceless.failure();
    ASSERT_EQ(deviceless.failure(), "");
    comm.SetDeviceName(deviceless.deviceName());
    const comm::ECommError e = raised([&] { comm.Open(); });
    EXPECT_EQ(std::string(e.what()).rfind("Error accessing specified device (Error: ", 0), 0u);
    EXPECT_TRUE(e.ErrorCode == ECONNRESET || e.ErrorCode == EPIPE) << e.ErrorCode;
    EXPECT_FALSE(comm.IsOpen());
}

// A resolver that takes the query and never answers (a dead DNS server): opening a port by name
// must give up within the connect limit, not hold the user's OPEN for as long as the lookup
// takes. The resolver is switched in a child process with a mount namespace of its own, so the
// machine's /etc/resolv.conf is never touched; needs root, skipped without.
TEST(RemotePortAbsent, NameWhoseResolverNeverAnswersGivesUpAtTheConnectLimit) {
    const int silentServer = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    ::inet_pton(AF_INET, "127.53.0.1", &address.sin_addr);
    if (::bind(silentServer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(silentServer);
        GTEST_SKIP() << "cannot take port 53 on 127.53.0.1: " << std::strerror(errno);
    }
    char resolvConf[] = "/tmp/quillmor-resolv-XXXXXX";
    const int confFd = ::mkstemp(resolvConf);
    ASSERT_GE(confFd, 0);
    const std::string conf = "nameserver 127.53.0.1\noptions timeout:30 attempts:1\n";
    ASSERT_EQ(::write(confFd, conf.data(), conf.size()), static_cast<ssize_t>(conf.size()));
    ::close(confFd);

    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        const auto reportAndExit = [&](const std::string& text) {
            [[maybe_unused]] ssize_t ignored = ::write(report[1], text.data(), text.size());
            ::_exit(0);
        };
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(resolvConf, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
            reportAndExit(std::string("skip: no private /etc/resolv.conf: ") +
                          std::strerror(errno));
        commtest::OwnerLoop loop;
        TComm comm(loop.runOnOwner());
        comm.SetDeviceName("rfc2217://quillmor-test.invalid:2217");
        const auto start = std::chrono::steady_clock::now();
        std::string what;
        try {
            comm.Open();
            what = "opened";
        } catch (const comm::ECommError& e) {
            what = e.what();
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        reportAndExit(what + "after " + std::to_string(ms) + " ms");
    }
    ::close(report[1]);
    std::string heard;
    pollfd wait{report[0], POLLIN, 0};
    char buffer[256];
    // The lookup alone would take 30 s; 10 s is plenty for a port that keeps its limit.
    while (::poll(&wait, 1, 10'000) == 1) {
        const ssize_t n = ::read(report[0], buffer, sizeof buffer);
        if (n <= 0) break;
        heard.append(buffer, static_cast<size_t>(n));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(report[0]);
    ::close(silentServer);
    ::unlink(resolvConf);
    if (heard.rfind("skip: ", 0) == 0) GTEST_SKIP() << heard;
    ASSERT_NE(heard.find(" ms"), std::string::npos) << "no answer within 10 s: " << heard;
    EXPECT_EQ(heard.rfind("Error accessing specified device (Error: 110) after ", 0), 0u) << heard;
    const long ms = std::stol(heard.substr(heard.rfind("after ") + 6));
    EXPECT_GE(ms, 2'500) << heard;
    EXPECT_LE(ms, 4'500) << heard;
}

// The server side of RFC 2217 cut down to what line events need, since no pseudo-terminal can
// raise a modem line or a line error: it takes the client's options, confirms every setting as
// asked (a query with 9600 8N1), and sends the notifications the test gives it. It can also play
// a broken peer: one that negotiates and then answers nothing, or one that stops reading and asks
// Telnet requests without end (IAC DO 1), each of which wants an answer.
class ScriptedServer {
public:
    enum class Peer { kConfirms, kAnswersNothing, kFloodsWithoutReading };

    explicit ScriptedServer(Peer peer = Peer::kConfirms) : peer_(peer) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            ADD_FAILURE() << "no listening socket: " << std::strerror(errno);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        ::shutdown(listener_, SHUT_RDWR);
        if (connection_ >= 0) ::shutdown(connection_, SHUT_RDWR);
        thread_.join();
        if (flooder_.joinable()) flooder_.join();
        ::close(listener_);
        if (connection_ >= 0) ::close(connection_);
    }
    std::string deviceName() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
    void notify(uint8_t command, uint8_t state) {
        send({kIac, kSb, kComPort, command, state, kIac, kSe});
    }
    // From now on it reads nothing more and floods the client with requests.
    void flood() {
        flooding_ = true;
        flooder_ = std::thread([this] { floodUntilDropped(connection_); });
    }
    // The client has closed the connection (seen while the server still reads).
    bool hungUp() const { return hungUp_; }

    static constexpr uint8_t kNotifyLineState = 106;
    static constexpr uint8_t kNotifyModemState = 107;

private:
    static constexpr uint8_t kIac = 255, kSb = 250, kSe = 240, kWill = 251, kDo = 253;
    static constexpr uint8_t kComPort = 44;

    void send(const std::vector<uint8_t>& bytes) {
        std::lock_guard guard(sending_);
        EXPECT_EQ(::write(connection_, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    static void floodUntilDropped(int connection) {
        std::vector<uint8_t> requests;
        for (int i = 0; i < 4096; ++i) requests.insert(requests.end(), {kIac, kDo, 1});
        while (::send(connection, requests.data(), requests.size(), MSG_NOSIGNAL) > 0) {
        }
    }

    void serve() {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) return;
        connection_ = connection;
        send({kIac, kDo, 0, kIac, kWill, 0, kIac, kDo, kComPort});
        if (peer_ == Peer::kFloodsWithoutReading) return floodUntilDropped(connection);
        enum { kData, kCommand, kOption, kSub, kSubIac } state = kData;
        std::vector<uint8_t> sub;
        uint8_t buf[512];
        ssize_t n = 0;
        while (!flooding_ && (n = ::read(connection, buf, sizeof buf)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                const uint8_t b = buf[i];
                switch (state) {
                    case kData:
                        if (b == kIac) state = kCommand;
                        break;
                    case kCommand:
                        state = b == kSb ? kSub : b >= kWill ? kOption : kData;
                        sub.clear();
                        break;
                    case kOption:
                        state = kData;
                        break;
                    case kSub:
                        if (b == kIac)
                            state = kSubIac;
                        else
                            sub.push_back(b);
                        break;
                    case kSubIac:
                        state = b == kIac ? kSub : kData;
                        if (b == kIac) sub.push_back(b);
                        if (b == kSe && peer_ == Peer::kConfirms) confirm(sub);
                        break;
                }
            }
        }
        hungUp_ = n == 0;
    }

    void confirm(const std::vector<uint8_t>& sub) {
        if (sub.size() < 3 || sub[0] != kComPort || sub[1] < 1 || sub[1] > 5) return;
        std::vector<uint8_t> value(sub.begin() + 2, sub.end());
        if (std::all_of(value.begin(), value.end(), [](uint8_t v) { return v == 0; })) {
            static const std::vector<uint8_t> kLine[] = {{0, 0, 0x25, 0x80}, {8}, {1}, {1}};
            if (sub[1] <= 4) value = kLine[sub[1] - 1];
        }
        std::vector<uint8_t> reply = {kIac, kSb, kComPort, static_cast<uint8_t>(sub[1] + 100)};
        reply.insert(reply.end(), value.begin(), value.end());
        reply.insert(reply.end(), {kIac, kSe});
        send(reply);
    }

    const Peer peer_;
    int listener_ = -1;
    std::atomic<int> connection_{-1};
    int port_ = 0;
    std::mutex sending_;
    std::atomic<bool> flooding_{false};
    std::atomic<bool> hungUp_{false};
    std::thread thread_;
    std::thread flooder_;
};

// Each notification of the server, one at a time, and the handlers it runs: the modem lines by
// their state or their change bits, ring on its rise and on its trailing-edge bit, a break
// apart from the other line errors.
TEST(RemoteLineEvents, ServerNotificationsBecomeTheComponentsEvents) {
    ScriptedServer server;
    commtest::OwnerLoop loop;
    TComm comm(loop.runOnOwner());
    std::string events;
    const auto note = [&](const char* name) {
        return [&events, name](comm::TCustomComm*) { events += std::string(" ") + name; };
    };
    comm.OnCts = note("cts");
    comm.OnDsr = note("dsr");
    comm.OnRlsd = note("rlsd");
    comm.OnRing = note("ring");
    comm.OnBreak = note("break");
    comm.OnError = [&](comm::TCustomComm*, int32_t errors) {
        events += " error " + std::to_string(errors);
    };
    comm.SetDeviceName(server.deviceName());
    comm.Open();
    const auto after = [&](uint8_t command, uint8_t state) {
        events.clear();
        server.notify(command, state);
        loop.pumpUntil([&] { return !events.empty(); });
        return events;
    };
    constexpr uint8_t kModem = ScriptedServer::kNotifyModemState;
    EXPECT_EQ(after(kModem, 0x11), " cts");
    EXPECT_EQ(after(kModem, 0x32), " dsr");
    EXPECT_EQ(after(kModem, 0xB8), " rlsd");
    EXPECT_TRUE(comm.ModemSignal(1) && comm.ModemSignal(2) && comm.ModemSignal(4));
    EXPECT_FALSE(comm.ModemSignal(3));
    EXPECT_EQ(after(kModem, 0xF0), " ring");
    EXPECT_TRUE(comm.ModemSignal(3));
    EXPECT_EQ(after(kModem, 0xB4), " ring") << "the trailing edge";
    EXPECT_EQ(after(kModem, 0x80), " cts dsr") << "lines that fall without change bits";
    EXPECT_FALSE(comm.ModemSignal(1) || comm.ModemSignal(2));
    EXPECT_EQ(after(ScriptedServer::kNotifyLineState, 0x10), " break");
    EXPECT_EQ(after(ScriptedServer::kNotifyLineState, 0x0E),
              " error " + std::to_string(comm::CE_FRAME | comm::CE_RXPARITY | comm::CE_OVERRUN));
    // The server names no byte: the marks stand where the notifications came, flagged so.
    EXPECT_EQ(commtest::receivedTraffic(*comm.Traffic()), "<break>? <overrun>? <error/p/f>?");
}

// The process's resident memory.
long residentBytes() {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages >> pages;
    return pages * ::sysconf(_SC_PAGESIZE);
}

long msSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

// A peer that negotiates and then answers no setting: OPEN gives up within the opening's limit,
// not a limit per setting, and lets the connection go instead of keeping it open behind the
// error.
TEST(RemotePeerMisbehaving, OneThatNeverAnswersFailsTheOpeningWithinItsLimitAndIsLetGo) {
    ScriptedServer server(ScriptedServer::Peer::kAnswersNothing);
    commtest::OwnerLoop loop;
    TComm comm(loop.runOnOwner());
    comm.SetDeviceName(server.deviceName());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_STREQ(raised([&] { comm.Open(); }).what(),
                 "Error updating DataControlBlock (Error: 22) ");
    EXPECT_LE(msSince(start), 3'500);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(loop.pumpUntil([&] { return server.hungUp(); })) << "the connection is closed";
}

// A peer that asks without end and reads none of the answers, while the port opens and after
// it is open: it is dropped with ENOBUFS, memory stays bounded, and the failed opening leaves
// nothing running.
TEST(RemotePeerMisbehaving, OneThatAsksWithoutReadingIsDroppedAndMemoryStaysBounded) {
    commtest::OwnerLoop loop;
    const long residentBefore = residentBytes();
    {
        ScriptedServer server(ScriptedServer::Peer::kFloodsWithoutReading);
        TComm comm(loop.runOnOwner());
        comm.SetDeviceName(server.deviceName());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_STREQ(raised([&] { comm.Open(); }).what(),
                     "Error accessing specified device (Error: 105) ");
        EXPECT_LE(msSince(start), 3'500);
        EXPECT_FALSE(comm.IsOpen());
        EXPECT_LT(commtest::cpuUsWhilePumping(loop, std::chrono::milliseconds(300)), 100000);
    }

    ScriptedServer server;
    TComm comm(loop.runOnOwner());
    std::vector<int32_t> errors;
    comm.OnError = [&](comm::TCustomComm*, int32_t e) { errors.push_back(e); };
    comm.SetDeviceName(server.deviceName());
    comm.Open();
    server.flood();
    ASSERT_TRUE(loop.pumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors, std::vector<int32_t>{static_cast<int32_t>(comm::CE_IOE)});
    char buf[4];
    EXPECT_EQ(raised([&] { comm.Read(buf, 4); }).ErrorCode, ENOBUFS);
    EXPECT_LT(commtest::cpuUsWhilePumping(loop, std::chrono::milliseconds(300)), 100000);
    EXPECT_LT(residentBytes() - residentBefore, 32L << 20);
    comm.Close();
}

}  // namespace
