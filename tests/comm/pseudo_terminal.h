#pragma once

// The far end of a serial line for tests and benchmarks: a real pseudo-terminal of the kernel,
// whose slave the program opens by its path. Nothing here depends on GoogleTest.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace commtest {

// A pseudo-terminal with both ends open: the master is the far end of the line; the slave stays
// open so that the master never sees a hang-up while a server closes and opens the port again,
// and its termios shows what the server made of the line settings.
struct PseudoTerminal {
    int master = -1;
    int slave = -1;
    std::string path;

    PseudoTerminal() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) std::perror("openpty");
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        path = name;
    }
    // A user may close either end early (and set it to -1) to let the line hang up.
    ~PseudoTerminal() {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Writes all of bytes into the line; false when it took nothing for five seconds.
    bool send(const std::string& bytes) const {
        for (size_t sent = 0; sent < bytes.size();) {
            pollfd p{master, POLLOUT, 0};
            if (::poll(&p, 1, 5000) <= 0) return false;
            const ssize_t n = ::write(master, bytes.data() + sent, bytes.size() - sent);
            if (n < 0 && errno != EAGAIN) return false;
            if (n > 0) sent += static_cast<size_t>(n);
        }
        return true;
    }
    // What comes out of the line until count bytes are there or nothing came for five seconds.
    std::string receive(size_t count) const {
        std::string got;
        char buf[4096];
        while (got.size() < count) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) break;
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }
};

// Another program holding a device open and locked, as tio and this program lock the ports they
// open: a child process that takes the lock and waits until the holder is destroyed.
class LockingProcess {
public:
    explicit LockingProcess(const std::string& path) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
            ::flock(fd, LOCK_EX | LOCK_NB);
            [[maybe_unused]] ssize_t sent = ::write(ready[1], "x", 1);
            ::pause();
            ::_exit(0);
        }
        char byte = 0;
        locked = pid > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~LockingProcess() {
        if (pid <= 0) return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    LockingProcess(const LockingProcess&) = delete;
    LockingProcess& operator=(const LockingProcess&) = delete;

    pid_t pid = -1;
    bool locked = false;  // the child holds the lock
};

}  // namespace commtest
