#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

// picocom on a pseudo-terminal's slave, its terminal output a pipe the benchmark reads: the
// reference a serial terminal is measured against. Once made, what the master is given comes
// out of output(), as picocom shows it.
class Picocom {
public:
    Picocom(const std::string& slavePath, int master) {
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // Its own session: picocom signals its whole process group when it ends.
            ::setsid();
            const int devnull = ::open("/dev/null", O_RDONLY);
            ::dup2(devnull, 0);
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            ::close(out[0]);
            ::execlp("picocom", "picocom", "-q", "-b", "115200", "-x", "1000", slavePath.c_str(),
                     static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(out[1]);
        output_ = out[0];
        // picocom is ready once a probe byte comes through; it flushes what came before it
        // opened, and what the probes left is drained.
        char buf[4096];
        pollfd p{output_, POLLIN, 0};
        for (int probe = 0; probe < 100; ++probe) {
            if (::write(master, "!", 1) != 1) break;
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(output_, buf, sizeof buf);
            if (n > 0 && std::find(buf, buf + n, '!') != buf + n) break;
        }
        while (::poll(&p, 1, 100) > 0 && ::read(output_, buf, sizeof buf) > 0) {
        }
    }
    ~Picocom() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }
    Picocom(const Picocom&) = delete;
    Picocom& operator=(const Picocom&) = delete;

    int output() const { return output_; }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};
