#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "comm/traffic_stream.h"

namespace traffic {

// How a session log turns the port's traffic into the bytes of its file.
class LogFormat {
public:
    virtual ~LogFormat() = default;
    // Appends to out what the entries become; `lost` entries went missing just before them.
    virtual void take(const comm::TrafficEntry* entries, size_t count, uint64_t lost,
                      std::string& out) = 0;
    // The log stops: what is still held back goes to out.
    virtual void finish(std::string& /*out*/) {}
};

// Exactly the data bytes received, nothing added: sent bytes and marks are left out, so the file
// compares equal to what the device sent.
class RawFormat : public LogFormat {
public:
    void take(const comm::TrafficEntry* entries, size_t count, uint64_t lost,
              std::string& out) override;
};

// A log of one opening's traffic into a file, written on a thread of its own that follows the
// stream as one more reader: neither the window nor the poll waits for the disk, and a disk that
// is slower than the line shows as entries lost (counted), never as a stalled reception.
//
// A write that fails (disk full, medium removed) stops the log at once: what was written before
// stays in the file, and failure() says the system's error. The file is opened before the thread
// starts, so a file that cannot be opened is refused at start.
class SessionLog {
public:
    enum class Mode { Replace, Append };

    // Starts at the stream's current end: the log holds what happens from now on. Throws
    // std::system_error (with the path in its text) when the file cannot be opened.
    SessionLog(const std::string& path, Mode mode, std::shared_ptr<comm::TrafficStream> stream,
               std::unique_ptr<LogFormat> format);
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    // Writes what the stream holds up to now, then closes the file. Returns at once when the
    // log has stopped already.
    void stop();

    const std::string& path() const { return path_; }
    bool running() const { return !ended_; }
    // The errno of the write that stopped the log; 0 while it runs or when stopped by stop().
    int failure() const { return failure_; }
    uint64_t bytesWritten() const { return written_; }
    // Entries the log missed because the stream overtook it.
    uint64_t lost() const { return lost_; }

private:
    void run();
    bool writeOut(std::string& pending);

    const std::string path_;
    const std::shared_ptr<comm::TrafficStream> stream_;
    const std::unique_ptr<LogFormat> format_;
    int fd_ = -1;
    uint64_t position_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> failure_{0};
    std::atomic<uint64_t> written_{0};
    std::atomic<uint64_t> lost_{0};
    std::thread thread_;
};

}  // namespace traffic
