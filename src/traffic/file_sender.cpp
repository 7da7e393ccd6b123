#include "traffic/file_sender.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <system_error>

namespace traffic {

namespace {

// Without pauses the file goes out in pieces this large; each write waits at most kWriteWaitMs,
// so a cancel is served within that time even while the far end holds the line.
constexpr size_t kPieceBytes = 64 * 1024;
constexpr int kWriteWaitMs = 100;

constexpr char kLf = '\n';
constexpr char kCr = '\r';

std::string readWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), path);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw std::system_error(error, std::generic_category(), path);
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

}  // namespace

FileSender::FileSender(const std::string& path, WritePart write, Delays delays)
    : bytes_(readWhole(path)), write_(std::move(write)), delays_(delays) {
    thread_ = std::thread([this] { run(); });
}

FileSender::~FileSender() {
    cancel();
}

void FileSender::cancel() {
    {
        std::lock_guard guard(lock_);
        cancelled_ = true;
    }
    cancelSignal_.notify_all();
    if (thread_.joinable()) thread_.join();
}

FileSender::Progress FileSender::progress() const {
    std::lock_guard guard(lock_);
    return {sent_, bytes_.size(), state_, failure_};
}

bool FileSender::finished() const {
    const State state = state_;
    return state != State::Sending && state != State::Waiting;
}

void FileSender::run() {
    try {
        const bool paced = delays_.afterCharMs > 0 || delays_.afterLineMs > 0;
        for (size_t at = 0; at < bytes_.size() && !cancelled_;) {
            if (!paced) {
                const size_t count = std::min(kPieceBytes, bytes_.size() - at);
                send(at, count);
                at += count;
                continue;
            }
            send(at, 1);
            const char c = bytes_[at++];
            const bool lineEnd =
                c == kLf || (c == kCr && (at == bytes_.size() || bytes_[at] != kLf));
            if (!pause(delays_.afterCharMs)) break;
            if (lineEnd && !pause(delays_.afterLineMs)) break;
        }
        state_ = cancelled_ && sent_ < bytes_.size() ? State::Cancelled : State::Done;
    } catch (const std::exception& e) {
        std::lock_guard guard(lock_);
        failure_ = e.what();
        state_ = State::Failed;
    }
}

// Writes bytes_[from, from + count) whole, however long the far end holds the line.
void FileSender::send(size_t from, size_t count) {
    size_t done = 0;
    while (done < count && !cancelled_) {
        const auto* piece = reinterpret_cast<const uint8_t*>(bytes_.data() + from + done);
        const int32_t taken = write_(piece, static_cast<int32_t>(count - done), kWriteWaitMs);
        done += static_cast<size_t>(std::max(taken, 0));
        sent_ = from + done;
        state_ = taken > 0 || done == count ? State::Sending : State::Waiting;
    }
}

bool FileSender::pause(int ms) {
    if (ms <= 0) return !cancelled_;
    std::unique_lock guard(lock_);
    return !cancelSignal_.wait_for(guard, std::chrono::milliseconds(ms),
                                   [this] { return cancelled_.load(); });
}

}  // namespace traffic
