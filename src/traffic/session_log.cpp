#include "traffic/session_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace traffic {

namespace {

// Entries taken from the stream at a time; the file gets them in one write.
constexpr size_t kBatchEntries = 64 * 1024;
// How long the thread sleeps when the line is quiet before it looks at stop() again; stop()
// wakes it anyway.
constexpr int kIdleWaitMs = 200;

}  // namespace

void RawFormat::take(const comm::TrafficEntry* entries, size_t count, uint64_t /*lost*/,
                     std::string& out) {
    for (size_t i = 0; i < count; ++i) {
        const comm::TrafficEntry& e = entries[i];
        if ((e.flags & comm::kTrafficSent) == 0 && !comm::isTrafficMark(e))
            out.push_back(static_cast<char>(e.value));
    }
}

SessionLog::SessionLog(const std::string& path, Mode mode,
                       std::shared_ptr<comm::TrafficStream> stream,
                       std::unique_ptr<LogFormat> format)
    : path_(path), stream_(std::move(stream)), format_(std::move(format)) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Append ? O_APPEND : O_TRUNC);
    fd_ = ::open(path.c_str(), flags, 0666);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), path);
    position_ = stream_->end();
    thread_ = std::thread([this] { run(); });
}

SessionLog::~SessionLog() {
    stop();
}

void SessionLog::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    stream_->wake();
    thread_.join();
}

void SessionLog::run() {
    std::vector<comm::TrafficEntry> batch(kBatchEntries);
    std::string pending;
    bool ok = true;
    // After stop() one more pass takes what the stream held at that moment.
    for (bool last = false; ok && !last;) {
        last = stopping_;
        if (!last) stream_->waitBeyond(position_, kIdleWaitMs);
        const uint64_t until = stream_->end();
        while (ok && position_ < until) {
            const comm::TrafficStream::ReadResult got =
                stream_->read(position_, batch.data(), batch.size());
            position_ = got.next;
            lost_ += got.dropped;
            format_->take(batch.data(), got.count, got.dropped, pending);
            ok = writeOut(pending);
            if (got.count == 0) break;
        }
    }
    if (ok) {
        format_->finish(pending);
        writeOut(pending);
    }
    ::close(fd_);
    ended_ = true;
}

bool SessionLog::writeOut(std::string& pending) {
    size_t done = 0;
    while (done < pending.size()) {
        const ssize_t n = ::write(fd_, pending.data() + done, pending.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failure_ = errno;
            return false;
        }
        done += static_cast<size_t>(n);
        written_ += static_cast<uint64_t>(n);
    }
    pending.clear();
    return true;
}

}  // namespace traffic
