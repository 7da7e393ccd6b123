#include "sim/pty_wire.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace sim {

namespace {

// Bytes the pty may hold back when nobody reads the slave; beyond it the oldest are dropped,
// as a wire with nothing attached loses them.
constexpr size_t kMaxPendingOutput = 64 * 1024;
// How far ahead of the wire the receiver is fed, so a service pass every millisecond or so
// keeps a 115200-baud line busy without reading the pty faster than the line runs.
constexpr int64_t kReadAheadNs = 3'000'000;
constexpr size_t kMinReadAhead = 4;

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyWire::PtyWire(Uart16550& uart, int64_t nowNs) : uart_(uart) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) throwErrno("posix_openpt");
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name)) {
        int saved = errno;
        ::close(master_);
        errno = saved;
        throwErrno("pty set-up");
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        int saved = errno;
        ::close(master_);
        errno = saved;
        throwErrno("open pty slave");
    }
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    uart_.attach(this, nowNs);
    uart_.setModemInputs(ModemInputs{.cts = true, .dsr = true, .ri = false, .dcd = true}, nowNs);
}

PtyWire::~PtyWire() {
    uart_.attach(nullptr, 0);
    ::close(slave_);
    ::close(master_);
}

void PtyWire::transmit(const Character& c) {
    if (c.isBreak) return;  // a pty cannot carry a break
    if (output_.size() >= kMaxPendingOutput) output_.erase(0, output_.size() / 2);
    output_.push_back(static_cast<char>(c.data));
}

// A pty has no flow control the writer would notice, so the wire paces it instead: a
// character goes onto the line only when the receiver will have a place for it. Whatever the
// driver cannot take yet waits in the pty, and its writer blocks, rather than being overrun.
size_t PtyWire::receiveWindow() const {
    const size_t readAhead =
        std::max(kMinReadAhead,
                 static_cast<size_t>(kReadAheadNs / std::max<int64_t>(1, uart_.characterTimeNs())));
    const size_t backlog = uart_.receiveBacklog();
    return backlog >= readAhead ? 0 : std::min(readAhead - backlog, uart_.receiveRoom());
}

void PtyWire::receiverRead(int64_t nowNs) {
    if (heldBack_ && receiveWindow() >= kMinReadAhead) service(nowNs);
}

void PtyWire::service(int64_t nowNs) {
    while (!output_.empty()) {
        ssize_t n = ::write(master_, output_.data(), output_.size());
        if (n <= 0) break;  // EAGAIN: the pty is full; keep the rest for the next pass
        output_.erase(0, static_cast<size_t>(n));
    }

    unsigned char buf[256];
    const size_t window = std::min(receiveWindow(), sizeof buf);
    heldBack_ = true;
    if (window == 0) return;
    ssize_t n = ::read(master_, buf, window);
    heldBack_ = n == static_cast<ssize_t>(window);
    if (n <= 0) return;  // EAGAIN: nothing typed; EIO cannot happen while we hold the slave
    const int64_t charNs = uart_.characterTimeNs();
    const Frame frame = uart_.frame();
    lineFreeAtNs_ = std::max(lineFreeAtNs_, nowNs);
    for (ssize_t i = 0; i < n; ++i) {
        lineFreeAtNs_ += charNs;
        uart_.receive(
            Character{.data = buf[i], .frame = frame, .isBreak = false, .endNs = lineFreeAtNs_});
    }
}

}  // namespace sim
