// A serial port on another machine, reached over TCP: through a terminal server speaking
// RFC 2217 (Telnet COM-PORT-OPTION), or as a plain byte stream.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "comm/comm_os.h"
#include "comm/driver_core.h"
#include "comm/rfc2217_codec.h"

namespace comm {

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace rfc2217;

// Opening a port: the name lookup, the connection, the negotiation and the first settings.
constexpr std::chrono::seconds kConnectTimeout{3};
// How long the server has to finish negotiating, and to confirm each setting.
constexpr std::chrono::seconds kReplyTimeout{2};
// While a setting waits for its confirmation behind data the full input queue cannot take,
// up to this much of that data is kept aside so the confirmation can still be read.
constexpr size_t kMaxHeld = 64 * 1024;
// Break, framing, parity and overrun errors; every modem line and its change.
constexpr uint8_t kLineStateMask = 0x1E;
constexpr uint8_t kModemStateMask = 0xFF;

// A line as RFC 2217 sets it: one command for each part, sent in this order.
struct LinePart {
    uint8_t command;
    uint32_t value;
    int width;
};
constexpr size_t kLineParts = 5;
constexpr size_t kFlowPart = 4;

std::array<LinePart, kLineParts> lineParts(const Dcb& dcb) {
    static constexpr uint8_t kStopSizes[] = {1, 3, 2};  // 1, 1.5, 2 stop bits
    const uint32_t rtsControl = dcb.Flags & kDcbRtsControlMask;
    uint8_t flow = kControlNoFlow;
    if ((dcb.Flags & kDcbOutxCtsFlow) || rtsControl == kDcbRtsControlHandshake)
        flow = kControlHardwareFlow;
    else if (dcb.Flags & (kDcbOutX | kDcbInX))
        flow = kControlXonXoffFlow;
    return {{{kSetBaudRate, dcb.BaudRate, 4},
             {kSetDataSize, dcb.ByteSize, 1},
             {kSetParity, static_cast<uint32_t>(dcb.Parity + 1), 1},
             {kSetStopSize, kStopSizes[dcb.StopBits], 1},
             {kSetControl, flow, 1}}};
}

// A server answers a value it cannot set with the one it kept; a rate counts as set when it is
// within what a UART's receiver tolerates.
bool confirms(const LinePart& part, uint32_t answer) {
    if (part.command != kSetBaudRate) return answer == part.value;
    return std::fabs(static_cast<double>(answer) - part.value) <= kMaxRateError * part.value;
}

// SET-CONTROL has one answer command for flow control, break, DTR and RTS: an answer counts for
// a request of its own kind only, so a late answer to an unconfirmed DTR change is never taken
// for the flow control's.
bool answers(uint8_t command, uint32_t request, uint32_t answer) {
    if (command != kSetControl) return true;
    const auto kind = [](uint32_t value) -> uint32_t {
        if (value >= 4 && value <= 12) return (value - 1) / 3;  // break, DTR, RTS
        if (value >= 13 && value <= 16) return 4;               // inbound flow control
        return 0;                                               // outbound flow control
    };
    return kind(request) == kind(answer);
}

class NetworkPort final : public OsPort {
public:
    // Until openingUntil, while the component opens the port, every wait for the server ends
    // by then: the user waits on OPEN for all of it together.
    NetworkPort(int fd, bool telnet, SteadyClock::time_point openingUntil)
        : fd_(fd),
          wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          telnet_(telnet),
          openingUntil_(openingUntil) {}
    ~NetworkPort() override;

    // Starts the connection's thread; over RFC 2217 it negotiates, learns the server's line and
    // asks for its notifications. Returns 0 or the error that makes the open fail.
    int start();

    intptr_t handle() const override { return fd_; }
    bool isCharacterDevice() const override { return true; }
    void close() override;

    int setupComm(uint32_t inQueue, uint32_t outQueue) override;
    int getCommState(Dcb& dcb) override;
    int setCommState(const Dcb& dcb) override;
    int setReadsReturnAtOnce() override { return closed_ ? EBADF : 0; }
    int setCommMask(uint32_t mask) override;
    Wait waitCommEvent(uint32_t& events, int& error) override;
    void cancelWait() override;
    int clearCommError(uint32_t& errors, ComStat& stat) override;
    int purgeComm(uint32_t flags) override;
    Transfer read(uint8_t* buffer, int32_t count, int32_t timeoutMs) override;
    Transfer write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) override;
    int escapeCommFunction(uint32_t code) override;
    int getCommModemStatus(uint32_t& status) override;
    int getProviderSubType(int32_t& type) override;
    int getActualBaudRate(uint32_t& bitsPerSecond) override;

private:
    // The connection's thread and what it does; all of it under state_.
    void run();
    size_t readLimit() const;
    void sendSome();
    void receiveSome(size_t limit, Decoder::Output& decoded);
    void deliver(const uint8_t* bytes, size_t count);
    void note(const Decoder::Reply& reply);
    void markLineState(uint32_t state);
    void noteModemState(uint8_t state);
    void dropIfNotReading();
    void fail(int error);

    void wake() { ::eventfd_write(wakeFd_, 1); }
    void post(uint8_t command, uint32_t value, int width);
    int ask(std::unique_lock<std::mutex>& lock, uint8_t command, uint32_t value, int width,
            uint32_t& answer);
    void learnLine(std::unique_lock<std::mutex>& lock);
    int32_t takeBack(const uint8_t* buffer, int32_t count, uint64_t start, uint64_t end);
    bool gone() const { return closed_ || failure_ != 0; }
    int goneError() const { return closed_ ? EBADF : failure_; }
    SteadyClock::time_point replyDeadline() const {
        return std::min(SteadyClock::now() + kReplyTimeout, openingUntil_);
    }

    const int fd_;
    const int wakeFd_;  // wakes the connection's thread: output, room, close
    const bool telnet_;
    std::thread thread_;
    std::atomic<bool> closed_{false};
    std::mutex requests_;  // one setting awaits its confirmation at a time
    std::mutex writes_;    // one write at a time, so a write that times out takes back its own

    std::mutex state_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool cancelled_ = false;
    int failure_ = 0;  // the connection is lost: every later call fails with this
    DriverCore core_;
    std::deque<uint8_t> held_;  // received, waiting for room in the input queue
    std::vector<uint8_t> out_;  // for the socket, in stream order
    uint64_t sent_ = 0;         // bytes of the stream the socket has taken
    uint64_t writeEnd_ = 0;     // where the data of the write under way ends in the stream
    SteadyClock::time_point openingUntil_;  // while opening, the limit of every reply
    bool txEmptyOwed_ = false;
    bool heldByXoff_ = false;
    bool suspended_ = false;  // the server asked us to stop sending
    uint8_t modemState_ = 0;
    bool awaiting_ = false;  // a setting waits for its answer: reading goes on past a full queue
    std::array<std::optional<uint32_t>, kCommandCount> replies_{};  // the last answer to each
    // Each part of the server's line as it last told it; unknown parts are always sent.
    std::array<std::optional<uint32_t>, kLineParts> line_{};
    bool negotiated_ = false;
    bool refused_ = false;

    // The connection's thread alone.
    Decoder decoder_;
    Negotiator negotiator_;
};

NetworkPort::~NetworkPort() {
    close();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

int NetworkPort::start() {
    std::unique_lock lock(state_);
    if (telnet_) negotiator_.start(out_);
    thread_ = std::thread([this] { run(); });
    if (!telnet_) return 0;
    const bool done = changed_.wait_until(
        lock, replyDeadline(), [this] { return negotiated_ || refused_ || failure_ != 0; });
    if (failure_) return failure_;
    if (refused_) return EPROTONOSUPPORT;
    if (!done) return ETIMEDOUT;
    post(kSetLineStateMask, kLineStateMask, 1);
    post(kSetModemStateMask, kModemStateMask, 1);
    learnLine(lock);
    return failure_;
}

// GetCommState must tell the line the port really has, and a setting sends only the parts
// that differ from it: a server may reconfigure its port for every command, and the port may
// refuse a request that changes nothing it keeps. A server that does not answer keeps the
// defaults, and every part is sent.
void NetworkPort::learnLine(std::unique_lock<std::mutex>& lock) {
    const std::array<LinePart, kLineParts> parts = lineParts(core_.dcb());
    for (size_t i = 0; i < kLineParts; ++i) {
        uint32_t answer = 0;
        if (ask(lock, parts[i].command, 0, parts[i].width, answer) != 0) return;
        line_[i] = answer;
    }
    Dcb dcb = core_.dcb();
    if (*line_[0] != 0) dcb.BaudRate = *line_[0];
    if (*line_[1] >= 5 && *line_[1] <= 8) dcb.ByteSize = static_cast<uint8_t>(*line_[1]);
    if (*line_[2] >= 1 && *line_[2] <= 5) dcb.Parity = static_cast<uint8_t>(*line_[2] - 1);
    if (*line_[3] >= 1 && *line_[3] <= 3)
        dcb.StopBits = *line_[3] == 1 ? 0 : *line_[3] == 2 ? 2 : 1;
    if (*line_[4] == kControlHardwareFlow)
        dcb.Flags = (dcb.Flags & ~kDcbRtsControlMask) | kDcbOutxCtsFlow | kDcbRtsControlHandshake;
    if (*line_[4] == kControlXonXoffFlow) dcb.Flags |= kDcbOutX | kDcbInX;
    core_.setDcb(dcb);
}

void NetworkPort::close() {
    if (closed_.exchange(true)) return;
    {
        std::lock_guard guard(state_);
        stopping_ = true;
        changed_.notify_all();
    }
    wake();
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
}

void NetworkPort::run() {
    Decoder::Output decoded;
    std::unique_lock lock(state_);
    while (!stopping_) {
        // A lost connection is only waited on for the close: no poll of a dead socket.
        const bool alive = failure_ == 0;
        short events = 0;
        if (alive && readLimit() > 0) events |= POLLIN;
        if (alive && !out_.empty()) events |= POLLOUT;
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, events, 0}};
        lock.unlock();
        ::poll(fds, alive ? 2 : 1, -1);
        if (fds[0].revents & POLLIN) {
            eventfd_t count = 0;
            ::eventfd_read(wakeFd_, &count);
        }
        lock.lock();
        if (stopping_ || !alive) continue;
        const short got = fds[1].revents;
        if (got & POLLOUT) sendSome();
        if (failure_ == 0 && (got & POLLIN)) {
            if (const size_t limit = readLimit()) receiveSome(limit, decoded);
        } else if (failure_ == 0 && (got & (POLLERR | POLLHUP))) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
            fail(error ? error : ECONNRESET);
        }
    }
}

// The socket is read only while what it brings has room: a full input queue stops the reading,
// and TCP then stops the server, so nothing is lost.
size_t NetworkPort::readLimit() const {
    if (held_.empty() && core_.room() > 0) return core_.room();
    if (awaiting_ && held_.size() < kMaxHeld) return kMaxHeld - held_.size();
    return 0;
}

void NetworkPort::sendSome() {
    const ssize_t n = ::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL);
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR) fail(errno);
        return;
    }
    out_.erase(out_.begin(), out_.begin() + n);
    sent_ += static_cast<uint64_t>(n);
    if (out_.empty() && std::exchange(txEmptyOwed_, false)) core_.raise(EV_TXEMPTY);
    changed_.notify_all();
}

// Received bytes never outnumber the raw ones, so what is read within the queue's room fits it.
void NetworkPort::receiveSome(size_t limit, Decoder::Output& decoded) {
    uint8_t chunk[16384];
    const ssize_t n = ::recv(fd_, chunk, std::min(sizeof chunk, limit), 0);
    if (n == 0) return fail(ECONNRESET);
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR) fail(errno);
        return;
    }
    if (!telnet_) {
        deliver(chunk, static_cast<size_t>(n));
    } else {
        decoded.clear();
        decoder_.feed(chunk, static_cast<size_t>(n), decoded);
        deliver(decoded.data.data(), decoded.data.size());
        for (const Decoder::Negotiation& option : decoded.negotiations)
            negotiator_.receive(option.verb, option.option, out_);
        dropIfNotReading();
        negotiated_ = negotiator_.complete();
        refused_ = negotiator_.refused();
        for (const Decoder::Reply& reply : decoded.replies) note(reply);
    }
    changed_.notify_all();
}

void NetworkPort::deliver(const uint8_t* bytes, size_t count) {
    traffic()->appendBytes(bytes, count, 0);
    const size_t taken = held_.empty() ? std::min(count, core_.room()) : 0;
    core_.receive(bytes, taken);
    held_.insert(held_.end(), bytes + taken, bytes + count);
}

// The notification names no byte: its marks go where it arrived, after the data that came with
// it, and say that they are not placed exactly.
void NetworkPort::markLineState(uint32_t state) {
    if (state & 0x10) traffic()->appendMark(kTrafficBreak | kTrafficUnplaced);
    if (state & 0x02) traffic()->appendMark(kTrafficOverrun | kTrafficUnplaced);
    const auto errors = static_cast<uint8_t>(((state & 0x04) ? kTrafficParityError : 0) |
                                             ((state & 0x08) ? kTrafficFramingError : 0));
    if (errors) traffic()->appendMark(errors | kTrafficUnplaced);
}

void NetworkPort::note(const Decoder::Reply& reply) {
    if (reply.command < kServerReply ||
        static_cast<size_t>(reply.command - kServerReply) >= kCommandCount)
        return;
    const auto command = static_cast<uint8_t>(reply.command - kServerReply);
    switch (command) {
        case kNotifyLineState: {
            const uint32_t v = reply.value;
            core_.reportErrors(((v & 0x10) ? CE_BREAK : 0) | ((v & 0x08) ? CE_FRAME : 0) |
                               ((v & 0x04) ? CE_RXPARITY : 0) | ((v & 0x02) ? CE_OVERRUN : 0));
            markLineState(v);
            break;
        }
        case kNotifyModemState:
            noteModemState(static_cast<uint8_t>(reply.value));
            break;
        case kFlowControlSuspend:
        case kFlowControlResume:
            suspended_ = command == kFlowControlSuspend;
            break;
        default:
            break;
    }
    replies_[command] = reply.value;
}

// The state bits line up with MS_CTS_ON and the others; the low nibble holds their changes
// (CTS, DSR, ring's trailing edge, CD), which the server may report without a visible change.
void NetworkPort::noteModemState(uint8_t state) {
    const auto changed = static_cast<uint8_t>((state ^ modemState_) | (state << 4));
    if (changed & MS_CTS_ON) core_.raise(EV_CTS);
    if (changed & MS_DSR_ON) core_.raise(EV_DSR);
    if (changed & MS_RLSD_ON) core_.raise(EV_RLSD);
    if ((state & 0x04) || (state & ~modemState_ & MS_RING_ON)) core_.raise(EV_RING);
    modemState_ = state;
}

// Every request of a peer gets its answer, refusals included; a peer that keeps asking without
// reading the answers would have them pile up here without end. Only the data of the write under
// way may go beyond the bound.
void NetworkPort::dropIfNotReading() {
    const uint64_t writeLeft = writeEnd_ > sent_ ? writeEnd_ - sent_ : 0;
    if (out_.size() > writeLeft + kMaxUnreadAnswers) fail(ENOBUFS);
}

// Reported once, as an I/O error, as a tty that goes away; the events already due are still
// handed out, then waits and transfers fail with the error.
void NetworkPort::fail(int error) {
    if (failure_) return;
    failure_ = error;
    core_.reportErrors(CE_IOE);
    changed_.notify_all();
}

void NetworkPort::post(uint8_t command, uint32_t value, int width) {
    appendCommand(out_, command, value, width);
    wake();
}

// Sends a command and waits for the server's answer to it.
int NetworkPort::ask(std::unique_lock<std::mutex>& lock, uint8_t command, uint32_t value, int width,
                     uint32_t& answer) {
    replies_[command].reset();
    awaiting_ = true;
    post(command, value, width);
    const bool answered = changed_.wait_until(lock, replyDeadline(), [&] {
        return (replies_[command] && answers(command, value, *replies_[command])) || gone();
    });
    awaiting_ = false;
    if (gone()) return goneError();
    if (!answered) return ETIMEDOUT;
    answer = *replies_[command];
    return 0;
}

// The last step of opening: from now on each reply has its own time.
int NetworkPort::setupComm(uint32_t inQueue, uint32_t) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    openingUntil_ = SteadyClock::time_point::max();
    core_.setCapacity(inQueue);
    wake();
    return 0;
}

int NetworkPort::getCommState(Dcb& dcb) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    dcb = core_.dcb();
    return 0;
}

// All or nothing, as SetCommState: after a refusal the parts the server took are given back.
// DTR and RTS follow their control modes as a PC driver sets them, unconfirmed, as on a tty
// whose modem lines may refuse.
int NetworkPort::setCommState(const Dcb& dcb) {
    if (!frameValid(dcb)) return EINVAL;
    if (closed_) return EBADF;
    std::lock_guard one(requests_);
    std::unique_lock lock(state_);
    if (failure_) return failure_;
    if (!telnet_) {
        core_.setDcb(dcb);
        return 0;
    }
    const std::array<LinePart, kLineParts> wanted = lineParts(dcb);
    std::vector<std::pair<size_t, LinePart>> requests;
    for (size_t i = 0; i < kLineParts; ++i) {
        if (line_[i] == wanted[i].value) continue;
        // pyserial's server adds XON/XOFF to RTS/CTS and the other way round: a change from one
        // to the other goes through none.
        if (i == kFlowPart && line_[i] && *line_[i] != kControlNoFlow &&
            wanted[i].value != kControlNoFlow)
            requests.push_back({i, {kSetControl, kControlNoFlow, 1}});
        requests.push_back({i, wanted[i]});
    }
    std::vector<size_t> taken;  // parts the server may have changed
    int error = 0;
    for (const auto& [i, part] : requests) {
        uint32_t answer = 0;
        error = ask(lock, part.command, part.value, part.width, answer);
        if (error != 0 && error != ETIMEDOUT) break;  // the connection is gone
        // Unanswered, whether the server set it is unknown: it is given back too. Answered with
        // the value it kept, there is nothing to give back.
        const bool unanswered = error == ETIMEDOUT;
        line_[i] = unanswered ? std::nullopt : std::optional(answer);
        const bool set = !unanswered && confirms(part, answer);
        if ((set || unanswered) && (taken.empty() || taken.back() != i)) taken.push_back(i);
        if (!set) {
            error = EINVAL;
            break;
        }
    }
    if (error == 0) {
        const uint32_t rtsControl = dcb.Flags & kDcbRtsControlMask;
        post(kSetControl, (dcb.Flags & kDcbDtrControlMask) ? kControlDtrOn : kControlDtrOff, 1);
        if (rtsControl != kDcbRtsControlHandshake)
            post(kSetControl, rtsControl ? kControlRtsOn : kControlRtsOff, 1);
        core_.setDcb(dcb);
        return 0;
    }
    if (error != EINVAL) return error;
    const std::array<LinePart, kLineParts> before = lineParts(core_.dcb());
    for (size_t i : taken) {
        uint32_t answer = 0;
        line_[i].reset();
        if (ask(lock, before[i].command, before[i].value, before[i].width, answer) == 0)
            line_[i] = answer;
    }
    return gone() ? goneError() : EINVAL;
}

int NetworkPort::setCommMask(uint32_t mask) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    core_.setMask(mask);
    changed_.notify_all();
    return 0;
}

OsPort::Wait NetworkPort::waitCommEvent(uint32_t& events, int& error) {
    std::unique_lock lock(state_);
    for (;;) {
        if (closed_) {
            error = EBADF;
            return Wait::kFailed;
        }
        if (cancelled_) return Wait::kCancelled;
        if (!core_.waitable()) {
            error = EINVAL;
            return Wait::kFailed;
        }
        if (core_.eventsPending()) {
            events = core_.takeEvents();
            return Wait::kEvent;
        }
        if (failure_) {
            error = failure_;
            return Wait::kFailed;
        }
        changed_.wait(lock);
    }
}

void NetworkPort::cancelWait() {
    std::lock_guard guard(state_);
    cancelled_ = true;
    changed_.notify_all();
}

int NetworkPort::clearCommError(uint32_t& errors, ComStat& stat) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    errors = core_.takeErrors();
    stat.cbInQue = static_cast<uint32_t>(core_.queued());
    stat.cbOutQue = static_cast<uint32_t>(out_.size());
    return 0;
}

// The server purges its own buffers; what is on the way to it (a pending write's bytes) goes
// on, as bytes a tty has already taken.
int NetworkPort::purgeComm(uint32_t flags) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    uint8_t purge = 0;
    if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
        core_.clearInput();
        held_.clear();
        wake();
        purge |= 1;
    }
    if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) purge |= 2;
    if (telnet_ && purge && !failure_) post(kPurgeData, purge, 1);
    return 0;
}

// Reads return at once with what has arrived: the time-out never comes into it.
OsPort::Transfer NetworkPort::read(uint8_t* buffer, int32_t count, int32_t) {
    if (closed_) return Transfer{Transfer::kFailed, 0, EBADF};
    std::lock_guard guard(state_);
    const bool stopped = readLimit() == 0;
    const size_t n = core_.take(buffer, static_cast<size_t>(count));
    if (n == 0 && failure_) return Transfer{Transfer::kFailed, 0, failure_};
    const size_t moved = std::min(held_.size(), core_.room());
    if (moved > 0) {
        const std::vector<uint8_t> bytes(held_.begin(), held_.begin() + moved);
        held_.erase(held_.begin(), held_.begin() + moved);
        core_.receive(bytes.data(), moved);
        changed_.notify_all();
    }
    if (stopped && readLimit() > 0) wake();
    return Transfer{Transfer::kDone, static_cast<int32_t>(n), 0};
}

// Complete when the socket has taken every byte. On a time-out the bytes still here are taken
// back, so nothing of the write is left to go out later; what the socket took goes out.
OsPort::Transfer NetworkPort::write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) {
    if (closed_) return Transfer{Transfer::kFailed, 0, EBADF};
    const SteadyClock::time_point deadline =
        SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::lock_guard one(writes_);
    std::unique_lock lock(state_);
    // Held by SetXon(false) or by the server, a write waits as on a tty stopped by XOFF.
    if (!changed_.wait_until(lock, deadline,
                             [this] { return gone() || (!heldByXoff_ && !suspended_); }))
        return Transfer{Transfer::kTimedOut, 0, 0};
    if (gone()) return Transfer{Transfer::kFailed, 0, goneError()};
    const uint64_t start = sent_ + out_.size();
    if (telnet_) {
        appendEscaped(out_, buffer, static_cast<size_t>(count));
    } else {
        out_.insert(out_.end(), buffer, buffer + count);
    }
    const uint64_t end = sent_ + out_.size();
    writeEnd_ = end;
    if (count > 0) {
        txEmptyOwed_ = true;
        wake();
    }
    changed_.wait_until(lock, deadline, [&] { return gone() || sent_ >= end; });
    if (sent_ >= end) return Transfer{Transfer::kDone, count, 0};
    const int32_t handedOn = takeBack(buffer, count, start, end);
    if (gone()) return Transfer{Transfer::kFailed, handedOn, goneError()};
    return Transfer{Transfer::kTimedOut, handedOn, 0};
}

// Returns how many of the write's bytes go out. A doubled IAC whose first half the socket took
// is finished, or the server would read the byte after it as a command.
int32_t NetworkPort::takeBack(const uint8_t* buffer, int32_t count, uint64_t start, uint64_t end) {
    uint64_t position = start;
    int32_t handedOn = 0;
    while (handedOn < count && position < sent_) {
        position += (telnet_ && buffer[handedOn] == IAC) ? 2 : 1;
        ++handedOn;
    }
    if (position < end) {
        const auto from = static_cast<std::ptrdiff_t>(position - sent_);
        out_.erase(out_.begin() + from, out_.begin() + static_cast<std::ptrdiff_t>(end - sent_));
        writeEnd_ = position;
    }
    if (out_.empty() && std::exchange(txEmptyOwed_, false)) {
        core_.raise(EV_TXEMPTY);
        changed_.notify_all();
    }
    return handedOn;
}

// SetXon has no command in RFC 2217: the transmitter's XOFF state is kept here. DTR, RTS and
// break go to the server unconfirmed: ser2net answers none of DTR and RTS on a port without
// modem lines and answers the end of a break as a break, so waiting for a confirmation would
// only make each change hang and fail.
int NetworkPort::escapeCommFunction(uint32_t code) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    if (failure_) return failure_;
    uint8_t control = 0;
    switch (code) {
        case SETXOFF:
        case SETXON:
            heldByXoff_ = code == SETXOFF;
            changed_.notify_all();
            return 0;
        case SETRTS:
            control = kControlRtsOn;
            break;
        case CLRRTS:
            control = kControlRtsOff;
            break;
        case SETDTR:
            control = kControlDtrOn;
            break;
        case CLRDTR:
            control = kControlDtrOff;
            break;
        case SETBREAK:
            control = kControlBreakOn;
            break;
        case CLRBREAK:
            control = kControlBreakOff;
            break;
        default:
            return EINVAL;
    }
    if (telnet_) post(kSetControl, control, 1);
    return 0;
}

int NetworkPort::getCommModemStatus(uint32_t& status) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    status = modemState_ & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return 0;
}

int NetworkPort::getProviderSubType(int32_t& type) {
    if (closed_) return EBADF;
    type = telnet_ ? PST_TCPIP_TELNET : PST_NETWORK_BRIDGE;
    return 0;
}

// Over RFC 2217 the rate is the one the server last answered; a plain connection has no line
// of its own to ask.
int NetworkPort::getActualBaudRate(uint32_t& bitsPerSecond) {
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    if (!telnet_) return ENOTSUP;
    if (!line_[0]) return ENODATA;
    bitsPerSecond = *line_[0];
    return 0;
}

// getaddrinfo has no time limit of its own, and a resolver that does not answer holds it for
// many seconds while the user waits on OPEN. A name is looked up on a thread of its own; past
// the deadline the port gives up with ETIMEDOUT and the lookup, left behind, frees its answer
// when it ends. Address literals need no resolver and are read at once.
std::shared_ptr<addrinfo> lookUpBefore(const std::string& host, uint16_t port,
                                       SteadyClock::time_point deadline, int& error) {
    struct Lookup {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        addrinfo* found = nullptr;
        int status = 0;
    };
    const auto resolve = [service = std::to_string(port), host](int flags, addrinfo*& found) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICSERV | flags;
        return ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    };
    const auto answer = [](int status, addrinfo* found) -> std::shared_ptr<addrinfo> {
        if (status != 0) return nullptr;  // error stays ENOENT: no such device
        return {found, ::freeaddrinfo};
    };

    addrinfo* literal = nullptr;
    const int literalStatus = resolve(AI_NUMERICHOST, literal);
    if (literalStatus != EAI_NONAME) return answer(literalStatus, literal);

    const auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, resolve] {
            addrinfo* found = nullptr;
            const int status = resolve(0, found);
            std::lock_guard guard(lookup->lock);
            if (lookup->abandoned) {
                if (status == 0) ::freeaddrinfo(found);
                return;
            }
            lookup->found = found;
            lookup->status = status;
            lookup->finished = true;
            lookup->done.notify_one();
        }).detach();
    } catch (const std::system_error& e) {
        error = e.code().value();
        return nullptr;
    }
    std::unique_lock guard(lookup->lock);
    if (!lookup->done.wait_until(guard, deadline, [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        error = ETIMEDOUT;
        return nullptr;
    }
    return answer(lookup->status, lookup->found);
}

// A non-blocking connect, so that a host that never answers costs kConnectTimeout at most.
int connectBefore(const addrinfo& address, SteadyClock::time_point deadline, int& error) {
    const int fd =
        ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        int result = errno;
        if (result == EINPROGRESS) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - SteadyClock::now());
            pollfd p{fd, POLLOUT, 0};
            socklen_t length = sizeof result;
            if (::poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count()))) <= 0)
                result = ETIMEDOUT;
            else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0)
                result = errno;
        }
        if (result != 0) {
            error = result;
            ::close(fd);
            return -1;
        }
    }
    // Typed characters go out one by one, not gathered for a round trip.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

}  // namespace

std::shared_ptr<OsPort> openNetworkPort(const std::string& host, uint16_t port, bool rfc2217,
                                        int& error) {
    error = ENOENT;
    if (host.empty() || port == 0) return nullptr;
    // One limit for the name lookup, the connection and the negotiation together, and for the
    // settings the component makes while opening, as the user waits for all of them.
    const SteadyClock::time_point deadline = SteadyClock::now() + kConnectTimeout;
    const std::shared_ptr<addrinfo> addresses = lookUpBefore(host, port, deadline, error);
    if (!addresses) return nullptr;
    for (const addrinfo* a = addresses.get(); a; a = a->ai_next) {
        const int fd = connectBefore(*a, deadline, error);
        if (fd < 0) continue;
        auto opened = std::make_shared<NetworkPort>(fd, rfc2217, deadline);
        error = opened->start();
        return error ? nullptr : opened;
    }
    return nullptr;
}

}  // namespace comm
