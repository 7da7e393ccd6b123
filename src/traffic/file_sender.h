#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace traffic {

// Sends a file's bytes through a port on a thread of its own, with optional pauses after each
// character and after each line end, until the file is sent, the sending is cancelled or the
// port fails. The port is reached through one function, so the sender knows nothing of it.
class FileSender {
public:
    // Hands the port up to count bytes and returns how many it took within timeoutMs (0 while
    // the far end holds the line); throws when the port fails or is closed.
    using WritePart =
        std::function<int32_t(const uint8_t* bytes, int32_t count, int32_t timeoutMs)>;

    struct Delays {
        int afterCharMs = 0;
        int afterLineMs = 0;  // after LF, and after a CR that no LF follows
    };
    enum class State { Sending, Waiting, Done, Cancelled, Failed };
    struct Progress {
        uint64_t sent = 0;
        uint64_t total = 0;
        State state = State::Sending;
        std::string failure;  // what ended a failed sending
    };

    // Reads the whole file first, so what is sent is the file as it was when the sending began.
    // Throws std::system_error (with the path in its text) when the file cannot be read.
    FileSender(const std::string& path, WritePart write, Delays delays);
    ~FileSender();
    FileSender(const FileSender&) = delete;
    FileSender& operator=(const FileSender&) = delete;

    // Ends the sending and returns when its thread has ended: within one write's time-out.
    void cancel();
    Progress progress() const;
    bool finished() const;

private:
    void run();
    void send(size_t from, size_t count);
    // Sleeps ms or until cancel(); false when cancelled.
    bool pause(int ms);

    std::string bytes_;
    WritePart write_;
    const Delays delays_;
    std::atomic<uint64_t> sent_{0};
    std::atomic<State> state_{State::Sending};
    std::atomic<bool> cancelled_{false};
    mutable std::mutex lock_;
    std::condition_variable cancelSignal_;
    std::string failure_;
    std::thread thread_;
};

}  // namespace traffic
