// The serial device on Linux: termios and the tty ioctls.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "comm/comm_os.h"
#include "comm/driver_core.h"
#include "comm/linux_baud.h"
#include "comm/linux_termios.h"
#include "comm/parmrk_decoder.h"

namespace comm {

namespace {

using SteadyClock = std::chrono::steady_clock;

// While a transmission is under way, how often the watcher looks whether the output queue has
// drained (EV_TXEMPTY); while modem or error events are wanted on a port that counts them, how
// often it compares the counters. A pseudo-terminal has neither, and its watcher sleeps until
// something arrives.
constexpr int kTxDrainPollMs = 2;
constexpr int kLineCountPollMs = 10;
constexpr uint32_t kLineCountEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR;
// A device that is not a tty has no line to pace it, and /dev/zero is always readable: such a
// device is read at most this often, so its endless data cannot take the owner thread over.
constexpr std::chrono::milliseconds kUntimedReadInterval{20};
// The input queue holds at least this much whatever size the program asks for, as a serial
// driver's own buffer may: each handover of EV_RXCHAR to the owner thread then moves up to this
// many bytes, so a fast line needs a few hundred handovers a second, not thousands.
constexpr uint32_t kMinInputQueue = 64 * 1024;

void signal(int eventFd) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(eventFd, &one, sizeof one);
}

void drain(int eventFd) {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t ignored = ::read(eventFd, &count, sizeof count);
}

// Rounded up, so that a poll for the time left never ends before the deadline.
int remainingMs(SteadyClock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

class LinuxPort final : public OsPort {
public:
    LinuxPort(int fd, bool characterDevice);
    ~LinuxPort() override;

    intptr_t handle() const override { return handle_; }
    bool isCharacterDevice() const override { return characterDevice_; }
    void close() override;

    int setupComm(uint32_t inQueue, uint32_t outQueue) override;
    int getCommState(Dcb& dcb) override;
    int setCommState(const Dcb& dcb) override;
    int setReadsReturnAtOnce() override;
    int setCommMask(uint32_t mask) override;
    Wait waitCommEvent(uint32_t& events, int& error) override;
    void cancelWait() override;
    void setHandingOver(bool handingOver) override;
    int clearCommError(uint32_t& errors, ComStat& stat) override;
    int purgeComm(uint32_t flags) override;
    Transfer read(uint8_t* buffer, int32_t count, int32_t timeoutMs) override;
    Transfer write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) override;
    int escapeCommFunction(uint32_t code) override;
    int getCommModemStatus(uint32_t& status) override;
    int getProviderSubType(int32_t& type) override;

private:
    void intake();
    void intakeWhileHandingOver();
    bool intakeOnce(bool& hangingUp);

    // The calls below hold fdLock_ (shared) and state_.
    void pumpInput();
    void receive(const uint8_t* bytes, size_t count);
    // Bytes with the tty's error escapes in them: the data into the input queue, the entries
    // (bytes with their errors, breaks) into entries_.
    void decodeEscaped(const uint8_t* bytes, size_t count, int64_t time);
    uint8_t takeByteError();
    void followErrorMarking();
    void hangUp();
    void compareLineCounts();
    int modemBits(unsigned long request, int bits);
    int setLine(const termios& t, uint32_t bitsPerSecond);

    const intptr_t handle_;
    const bool characterDevice_;
    const bool tty_;
    int fd_;
    const int closeFd_;       // signalled once, at close, for everyone who polls
    const int kickFd_;        // wakes the watcher: Stop, room in the input queue, output started
    const int intakeKickFd_;  // wakes the intake: the handover ended, room in the input queue

    // close() takes it exclusively, so the descriptor is never closed (and its number never
    // reused) under a call that still uses it.
    std::shared_mutex fdLock_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> cancelled_{false};

    std::mutex state_;
    DriverCore core_;
    bool hungUp_ = false;
    bool atEnd_ = false;  // a device that is not a tty read end of file (/dev/null)
    SteadyClock::time_point nextUntimedRead_{};
    bool draining_ = false;  // written data not yet gone: EV_TXEMPTY is owed
    bool countsKnown_ = false;
    serial_icounter_struct counts_{};

    // The traffic stream's view of the input: the tty's error escapes (PARMRK) undone, and
    // the kernel's counters as last compared, which tell a parity from a framing error and
    // bring overruns to light.
    bool errorsMarked_ = false;
    ParmrkDecoder decoder_;
    bool trafficCountsKnown_ = false;
    serial_icounter_struct trafficCounts_{};
    // Errors the counters showed that no escape has shown yet: the counters move when the UART
    // reports, the escape arrives when the line discipline has the byte.
    struct {
        uint32_t parity = 0;
        uint32_t frame = 0;
        uint32_t breaks = 0;
    } unshown_;
    std::vector<uint8_t> chunk_;
    std::vector<ParmrkDecoder::Item> decoded_;
    std::vector<uint8_t> data_;
    std::vector<TrafficEntry> entries_;

    // While the watcher waits for the owner's handler, the intake thread, and only it, reads
    // the tty into the input queue: the line is read on while the handler works through what
    // came before. It reads outside state_, so the handler's reads of the queue never wait for
    // the tty; a handover ends only once the intake's read in progress is in the queue.
    std::mutex intakeLock_;
    std::condition_variable intakeChanged_;
    bool intakeEnds_ = false;
    bool intakeBusy_ = false;
    uint64_t handovers_ = 0;
    std::atomic<bool> handingOver_{false};
    std::vector<uint8_t> intakeChunk_;
    std::thread intake_;
};

LinuxPort::LinuxPort(int fd, bool characterDevice)
    : handle_(fd),
      characterDevice_(characterDevice),
      tty_(::isatty(fd) == 1),
      fd_(fd),
      closeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      kickFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      intakeKickFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    termios t{};
    if (::tcgetattr(fd_, &t) == 0) {
        Dcb dcb = core_.dcb();
        if (t.c_cflag & CRTSCTS)
            dcb.Flags =
                (dcb.Flags & ~kDcbRtsControlMask) | kDcbOutxCtsFlow | kDcbRtsControlHandshake;
        if (t.c_iflag & IXON) dcb.Flags |= kDcbOutX;
        if (t.c_iflag & IXOFF) dcb.Flags |= kDcbInX;
        if (t.c_iflag & INPCK) dcb.Flags |= kDcbParity;
        core_.setDcb(dcb);
        errorsMarked_ = tty_ && (t.c_iflag & PARMRK);
    }
    trafficCountsKnown_ = ::ioctl(fd_, TIOCGICOUNT, &trafficCounts_) == 0;
}

LinuxPort::~LinuxPort() {
    close();
    {
        std::lock_guard guard(intakeLock_);
        intakeEnds_ = true;
        intakeChanged_.notify_all();
    }
    if (intake_.joinable()) intake_.join();
    if (closeFd_ >= 0) ::close(closeFd_);
    if (kickFd_ >= 0) ::close(kickFd_);
    if (intakeKickFd_ >= 0) ::close(intakeKickFd_);
}

// Only a tty paces its input; the thread starts with the first handover.
void LinuxPort::setHandingOver(bool handingOver) {
    if (!tty_) return;
    std::unique_lock guard(intakeLock_);
    handingOver_ = handingOver;
    if (handingOver) {
        ++handovers_;
        if (!intake_.joinable()) {
            intake_ = std::thread([this] {
                raiseCurrentThreadPriority();
                intake();
            });
        }
    } else {
        signal(intakeKickFd_);
        intakeChanged_.wait(guard, [this] { return !intakeBusy_; });
    }
    intakeChanged_.notify_all();
}

// Serves each handover once: after a close or a hang-up it has nothing more to read, and waits
// for the next.
void LinuxPort::intake() {
    std::unique_lock guard(intakeLock_);
    for (uint64_t served = 0;;) {
        intakeChanged_.wait(guard,
                            [&] { return (handingOver_ && handovers_ != served) || intakeEnds_; });
        if (intakeEnds_) return;
        served = handovers_;
        guard.unlock();
        intakeWhileHandingOver();
        guard.lock();
    }
}

void LinuxPort::intakeWhileHandingOver() {
    std::shared_lock fdGuard(fdLock_);
    bool hangingUp = false;
    while (!closed_ && intakeOnce(hangingUp)) {
    }
}

// One read of what the tty has, or one wait for more; false once the handover is over or
// the tty fails or hangs up (what it still had is read first).
bool LinuxPort::intakeOnce(bool& hangingUp) {
    size_t room = 0;
    {
        std::lock_guard guard(intakeLock_);
        if (!handingOver_) return false;
        intakeBusy_ = true;
    }
    const auto idle = [this] {
        std::lock_guard guard(intakeLock_);
        intakeBusy_ = false;
        intakeChanged_.notify_all();
    };
    {
        std::lock_guard guard(state_);
        if (!hungUp_) room = core_.room();
    }
    if (room > 0) {
        intakeChunk_.resize(kMinInputQueue);
        const ssize_t n = ::read(fd_, intakeChunk_.data(), std::min(intakeChunk_.size(), room));
        if (n > 0) {
            std::lock_guard guard(state_);
            receive(intakeChunk_.data(), static_cast<size_t>(n));
        }
        idle();
        if (n > 0) return true;
        // The loss is the watcher's to find and report, after the handover, with an event of
        // its own: reported now, the handler at work would take the error without one.
        if (hangingUp || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    } else {
        idle();
    }
    pollfd fds[3] = {{closeFd_, POLLIN, 0}, {intakeKickFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
    ::poll(fds, room > 0 ? 3 : 2, -1);
    if (fds[1].revents & POLLIN) drain(intakeKickFd_);
    hangingUp = room > 0 && (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL));
    return true;
}

void LinuxPort::close() {
    if (closed_.exchange(true)) return;
    signal(closeFd_);
    std::unique_lock guard(fdLock_);
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

int LinuxPort::setupComm(uint32_t inQueue, uint32_t) {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    core_.setCapacity(std::max(inQueue, kMinInputQueue));
    signal(kickFd_);
    return 0;
}

int LinuxPort::getCommState(Dcb& dcb) {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return EBADF;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return errno;
    uint32_t speed = 0;
    if (int error = linux_baud::getLineSpeed(fd_, speed)) return error;
    std::lock_guard guard(state_);
    dcb = core_.dcb();
    dcb.BaudRate = speed;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
    }
    dcb.Parity = 0;
    if (t.c_cflag & PARENB) {
        const bool odd = (t.c_cflag & PARODD) != 0;
        dcb.Parity = (t.c_cflag & CMSPAR) ? (odd ? 3 : 4) : (odd ? 1 : 2);
    }
    if (!(t.c_cflag & CSTOPB)) dcb.StopBits = 0;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    return 0;
}

// termios has no DTR/DSR flow control, no DSR sensitivity, no error or null character
// handling: those flags are kept (GetCommState returns them) but do not act on the line. DTR
// and RTS follow their control modes as a PC driver sets them; a pseudo-terminal has no modem
// lines, and the line settings must still apply to it, so refused DTR and RTS changes are
// ignored.
int LinuxPort::setCommState(const Dcb& dcb) {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return EBADF;
    termios before{};
    uint32_t speedBefore = 0;
    if (::tcgetattr(fd_, &before) != 0) return errno;
    if (int error = linux_baud::getLineSpeed(fd_, speedBefore)) return error;
    termios t = before;
    if (int error = termiosFromDcb(dcb, t)) return error;
    if (int error = setLine(t, dcb.BaudRate)) {
        // All or nothing, as SetCommState: the port goes on with the line it had.
        setLine(before, speedBefore);
        std::lock_guard guard(state_);
        followErrorMarking();
        return error;
    }

    const uint32_t dtrControl = dcb.Flags & kDcbDtrControlMask;
    const uint32_t rtsControl = dcb.Flags & kDcbRtsControlMask;
    modemBits(dtrControl == 0 ? TIOCMBIC : TIOCMBIS, TIOCM_DTR);
    if (rtsControl != kDcbRtsControlHandshake)
        modemBits(rtsControl == 0 ? TIOCMBIC : TIOCMBIS, TIOCM_RTS);

    std::lock_guard guard(state_);
    followErrorMarking();
    core_.setDcb(dcb);
    return 0;
}

// Whether what the tty hands over now has its errors escaped. Bytes the line discipline took in
// before a change keep the old form; an escape cut off by the change is not completed.
void LinuxPort::followErrorMarking() {
    termios t{};
    if (!tty_ || ::tcgetattr(fd_, &t) != 0) return;
    const bool marked = (t.c_iflag & PARMRK) != 0;
    if (marked != errorsMarked_) decoder_.reset();
    errorsMarked_ = marked;
}

// Sets the line and reads it back: what the tty did not take is a refusal, even when tcsetattr
// reported success for the part it did take.
int LinuxPort::setLine(const termios& t, uint32_t bitsPerSecond) {
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return errno;
    if (!standardSpeed(bitsPerSecond)) {
        if (int error = linux_baud::setLineSpeed(fd_, bitsPerSecond)) return error;
    }
    termios got{};
    uint32_t speed = 0;
    if (::tcgetattr(fd_, &got) != 0) return errno;
    if (int error = linux_baud::getLineSpeed(fd_, speed)) return error;
    const double rateError =
        std::fabs(static_cast<double>(speed) - bitsPerSecond) / std::max(bitsPerSecond, 1u);
    return frameTaken(t, got) && rateError <= kMaxRateError ? 0 : EINVAL;
}

int LinuxPort::modemBits(unsigned long request, int bits) {
    return ::ioctl(fd_, request, &bits) == 0 ? 0 : errno;
}

int LinuxPort::setReadsReturnAtOnce() {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return EBADF;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return errno;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return ::tcsetattr(fd_, TCSANOW, &t) == 0 ? 0 : errno;
}

int LinuxPort::setCommMask(uint32_t mask) {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    core_.setMask(mask);
    countsKnown_ = ::ioctl(fd_, TIOCGICOUNT, &counts_) == 0;
    signal(kickFd_);
    return 0;
}

// Moves what the tty has into the input queue, as far as it has room: only new bytes raise
// EV_RXCHAR, and bytes waiting unread never wake the watcher again.
void LinuxPort::pumpInput() {
    if (!tty_ && SteadyClock::now() < nextUntimedRead_) return;
    if (handingOver_) return;  // the intake's work meanwhile
    while (!hungUp_ && !atEnd_ && !core_.full()) {
        chunk_.resize(kMinInputQueue);
        const ssize_t n = ::read(fd_, chunk_.data(), std::min(chunk_.size(), core_.room()));
        if (n > 0) {
            receive(chunk_.data(), static_cast<size_t>(n));
            if (!tty_) {
                nextUntimedRead_ = SteadyClock::now() + kUntimedReadInterval;
                return;
            }
            continue;
        }
        // With VMIN and VTIME 0 an empty tty reads 0 bytes; before that, EAGAIN. Any other
        // device reading nothing is at its end and has nothing more to give.
        if (n == 0 && !tty_) {
            atEnd_ = true;
            return;
        }
        if (n == 0 || errno == EAGAIN || errno == EINTR) return;
        hangUp();
    }
}

// Bytes as the tty handed them over: the program gets them as the DCB's parity check wants
// them, as the tty itself gave them before error marking (an error byte as NUL when checking,
// as received otherwise; a break as NUL); the traffic stream gets them with their errors.
void LinuxPort::receive(const uint8_t* bytes, size_t count) {
    serial_icounter_struct now{};
    const bool counted = trafficCountsKnown_ && ::ioctl(fd_, TIOCGICOUNT, &now) == 0;
    if (counted) {
        unshown_.parity += static_cast<uint32_t>(now.parity - trafficCounts_.parity);
        unshown_.frame += static_cast<uint32_t>(now.frame - trafficCounts_.frame);
        unshown_.breaks += static_cast<uint32_t>(now.brk - trafficCounts_.brk);
    }
    const int64_t time = trafficClockUs();
    entries_.clear();
    // Without an escape in them (no 0xFF, none left half-read) the bytes are all plain data,
    // as most are: they go on as they came.
    if (!errorsMarked_ ||
        (!decoder_.midEscape() && std::memchr(bytes, ParmrkDecoder::kEscape, count) == nullptr)) {
        core_.receive(bytes, count);
        traffic()->appendBytes(bytes, count, 0);
    } else {
        decodeEscaped(bytes, count, time);
    }
    // Lost bytes have no place in the data: they are marked where they came to light.
    if (counted) {
        if (now.overrun != trafficCounts_.overrun) entries_.push_back({time, 0, kTrafficOverrun});
        if (now.buf_overrun != trafficCounts_.buf_overrun)
            entries_.push_back({time, 0, kTrafficQueueOverflow});
        trafficCounts_ = now;
    }
    traffic()->append(entries_.data(), entries_.size());
}

void LinuxPort::decodeEscaped(const uint8_t* bytes, size_t count, int64_t time) {
    decoded_.resize(ParmrkDecoder::maxItems(count));
    const size_t items = decoder_.decode(bytes, count, decoded_.data());
    const bool checkParity = (core_.dcb().Flags & kDcbParity) != 0;
    data_.clear();
    for (size_t i = 0; i < items; ++i) {
        const ParmrkDecoder::Item item = decoded_[i];
        // FF 00 00 is a break or a NUL received with an error: the counters tell which.
        const bool errorNul = item.kind == ParmrkDecoder::kBreak && unshown_.breaks == 0 &&
                              unshown_.parity + unshown_.frame > 0;
        if (item.kind == ParmrkDecoder::kData) {
            data_.push_back(item.value);
            entries_.push_back({time, item.value, 0});
        } else if (item.kind == ParmrkDecoder::kBadByte || errorNul) {
            data_.push_back(checkParity ? 0 : item.value);
            entries_.push_back({time, item.value, takeByteError()});
        } else {
            if (unshown_.breaks > 0) --unshown_.breaks;
            data_.push_back(0);
            entries_.push_back({time, 0, kTrafficBreak});
        }
    }
    core_.receive(data_.data(), data_.size());
}

// Which error a byte the tty marked had. The kernel counts each bad byte once (as a parity
// error when it has both); when the counts leave it open, or there are none (a pseudo-terminal,
// a driver without counters), the byte gets both marks.
uint8_t LinuxPort::takeByteError() {
    const bool parity = unshown_.parity > 0;
    const bool frame = unshown_.frame > 0;
    if (parity) {
        --unshown_.parity;
    } else if (frame) {
        --unshown_.frame;
    }
    if (parity != frame) return parity ? kTrafficParityError : kTrafficFramingError;
    return kTrafficParityError | kTrafficFramingError;
}

// An I/O error or a hang-up on a tty: the device is gone (the far end of a pseudo-terminal
// closed, an adapter pulled out). Reported once, as an I/O error.
void LinuxPort::hangUp() {
    if (hungUp_) return;
    hungUp_ = true;
    core_.reportErrors(CE_IOE);
}

void LinuxPort::compareLineCounts() {
    if (!countsKnown_) return;
    serial_icounter_struct now{};
    if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) return;
    if (now.cts != counts_.cts) core_.raise(EV_CTS);
    if (now.dsr != counts_.dsr) core_.raise(EV_DSR);
    if (now.dcd != counts_.dcd) core_.raise(EV_RLSD);
    if (now.rng != counts_.rng) core_.raise(EV_RING);
    uint32_t errors = 0;
    if (now.brk != counts_.brk) errors |= CE_BREAK;
    if (now.frame != counts_.frame) errors |= CE_FRAME;
    if (now.parity != counts_.parity) errors |= CE_RXPARITY;
    if (now.overrun != counts_.overrun) errors |= CE_OVERRUN;
    if (now.buf_overrun != counts_.buf_overrun) errors |= CE_RXOVER;
    core_.reportErrors(errors);
    counts_ = now;
}

OsPort::Wait LinuxPort::waitCommEvent(uint32_t& events, int& error) {
    std::shared_lock fdGuard(fdLock_);
    for (;;) {
        if (closed_) {
            error = EBADF;
            return Wait::kFailed;
        }
        if (cancelled_) return Wait::kCancelled;
        pollfd fds[3] = {{closeFd_, POLLIN, 0}, {kickFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        nfds_t count = 2;
        int timeoutMs = -1;
        {
            std::lock_guard guard(state_);
            if (!core_.waitable()) {
                error = EINVAL;
                return Wait::kFailed;
            }
            pumpInput();
            compareLineCounts();
            if (draining_) {
                int queued = 0;
                if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued == 0) {
                    draining_ = false;
                    core_.raise(EV_TXEMPTY);
                }
            }
            if (core_.eventsPending()) {
                events = core_.takeEvents();
                return Wait::kEvent;
            }
            // A hung-up tty and a device at its end poll readable for ever: only close or
            // stop can matter now.
            const bool readable = !hungUp_ && !atEnd_ && !core_.full();
            const bool untimedRest = !tty_ && SteadyClock::now() < nextUntimedRead_;
            if (readable && !untimedRest) count = 3;
            if (!hungUp_ && countsKnown_ && (core_.mask() & kLineCountEvents))
                timeoutMs = kLineCountPollMs;
            if (draining_) timeoutMs = kTxDrainPollMs;
            if (readable && untimedRest) {
                const int rest = remainingMs(nextUntimedRead_);
                timeoutMs = timeoutMs < 0 ? rest : std::min(timeoutMs, rest);
            }
        }
        ::poll(fds, count, timeoutMs);
        if (fds[1].revents & POLLIN) drain(kickFd_);
        if (count == 3 && (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            std::lock_guard guard(state_);
            pumpInput();
            hangUp();
        }
    }
}

void LinuxPort::cancelWait() {
    cancelled_ = true;
    signal(kickFd_);
}

int LinuxPort::clearCommError(uint32_t& errors, ComStat& stat) {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    pumpInput();
    errors = core_.takeErrors();
    stat.cbInQue = static_cast<uint32_t>(core_.queued());
    int queued = 0;
    stat.cbOutQue = ::ioctl(fd_, TIOCOUTQ, &queued) == 0 ? static_cast<uint32_t>(queued) : 0;
    return 0;
}

int LinuxPort::purgeComm(uint32_t flags) {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return EBADF;
    std::lock_guard guard(state_);
    if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
        core_.clearInput();
        ::tcflush(fd_, TCIFLUSH);
        unshown_ = {};  // their bytes are gone with the rest
        decoder_.reset();
        signal(kickFd_);
        signal(intakeKickFd_);
    }
    if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) ::tcflush(fd_, TCOFLUSH);
    return 0;
}

// Reads return at once with what has arrived: the time-out never comes into it. Only a read
// that finds the queue empty looks at the tty itself; otherwise taking in bytes is the
// watcher's work, off the owner's thread.
OsPort::Transfer LinuxPort::read(uint8_t* buffer, int32_t count, int32_t) {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return Transfer{Transfer::kFailed, 0, EBADF};
    std::lock_guard guard(state_);
    const bool wasFull = core_.full();
    if (core_.queued() == 0) pumpInput();
    if (core_.queued() == 0 && hungUp_) return Transfer{Transfer::kFailed, 0, EIO};
    const size_t n = core_.take(buffer, static_cast<size_t>(count));
    if (wasFull && n > 0) {
        signal(kickFd_);
        signal(intakeKickFd_);
    }
    return Transfer{Transfer::kDone, static_cast<int32_t>(n), 0};
}

// Writes until everything is with the tty or the time-out passes; what the tty has taken by
// then goes out, the rest is dropped, and nothing refers to the caller's buffer afterwards.
OsPort::Transfer LinuxPort::write(const uint8_t* buffer, int32_t count, int32_t timeoutMs) {
    std::shared_lock fdGuard(fdLock_);
    const SteadyClock::time_point deadline =
        SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int32_t written = 0;
    while (written < count) {
        if (closed_) return Transfer{Transfer::kFailed, written, EBADF};
        const ssize_t n = ::write(fd_, buffer + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return Transfer{Transfer::kFailed, written, errno};
        const int left = remainingMs(deadline);
        if (left == 0) return Transfer{Transfer::kTimedOut, written, 0};
        pollfd fds[2] = {{closeFd_, POLLIN, 0}, {fd_, POLLOUT, 0}};
        ::poll(fds, 2, left);
        if (fds[1].revents & (POLLERR | POLLHUP)) return Transfer{Transfer::kFailed, written, EIO};
    }
    if (count > 0) {
        std::lock_guard guard(state_);
        draining_ = true;
        signal(kickFd_);
    }
    return Transfer{Transfer::kDone, written, 0};
}

int LinuxPort::escapeCommFunction(uint32_t code) {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return EBADF;
    switch (code) {
        case SETXOFF:
            return ::tcflow(fd_, TCOOFF) == 0 ? 0 : errno;
        case SETXON:
            return ::tcflow(fd_, TCOON) == 0 ? 0 : errno;
        case SETRTS:
            return modemBits(TIOCMBIS, TIOCM_RTS);
        case CLRRTS:
            return modemBits(TIOCMBIC, TIOCM_RTS);
        case SETDTR:
            return modemBits(TIOCMBIS, TIOCM_DTR);
        case CLRDTR:
            return modemBits(TIOCMBIC, TIOCM_DTR);
        case SETBREAK:
            return ::ioctl(fd_, TIOCSBRK) == 0 ? 0 : errno;
        case CLRBREAK:
            return ::ioctl(fd_, TIOCCBRK) == 0 ? 0 : errno;
        default:
            return EINVAL;
    }
}

int LinuxPort::getCommModemStatus(uint32_t& status) {
    std::shared_lock fdGuard(fdLock_);
    if (closed_) return EBADF;
    int bits = 0;
    if (::ioctl(fd_, TIOCMGET, &bits) != 0) return errno;
    status = ((bits & TIOCM_CTS) ? MS_CTS_ON : 0) | ((bits & TIOCM_DSR) ? MS_DSR_ON : 0) |
             ((bits & TIOCM_RNG) ? MS_RING_ON : 0) | ((bits & TIOCM_CAR) ? MS_RLSD_ON : 0);
    return 0;
}

// Every tty is a serial line to the program: a UART's driver, a USB adapter (whose driver may
// not answer TIOCGSERIAL) and a pseudo-terminal standing in for a cable all take the same
// termios line settings. Any other device has no comm configuration at all.
int LinuxPort::getProviderSubType(int32_t& type) {
    if (closed_) return EBADF;
    if (!tty_) return ENOTTY;
    type = PST_RS232;
    return 0;
}

}  // namespace

std::shared_ptr<OsPort> openTtyPort(const std::string& path, int& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    struct stat st {};
    const bool characterDevice = ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
    // Exclusive, as the system's comm service opens a port: a second opening fails as busy.
    // TIOCEXCL keeps other programs out but not the superuser; the lock keeps out every
    // other opening through this component.
    if (characterDevice && ::isatty(fd)) {
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            return nullptr;
        }
        ::ioctl(fd, TIOCEXCL);
    }
    return std::make_shared<LinuxPort>(fd, characterDevice);
}

void raiseCurrentThreadPriority() {
    const int current = ::getpriority(PRIO_PROCESS, 0);
    [[maybe_unused]] int refused =
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), current - 1);
}

}  // namespace comm
