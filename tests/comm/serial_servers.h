#pragma once

// Serial ports shared on the network by servers nobody here wrote: ser2net and pyserial's RFC 2217
// port manager, started on 127.0.0.1 with a pseudo-terminal behind them. The tests and the
// benchmarks both use them, so nothing here depends on GoogleTest.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pseudo_terminal.h"

namespace commtest {

enum class ServerKind { kSer2netRfc2217, kSer2netRaw, kPyserialRfc2217 };

// pyserial's RFC 2217 port manager on the pseudo-terminal given, one client at a time, as its
// example server runs it. A pseudo-terminal has no modem lines and keeps only 8-bit words
// without PARENB: its lines read as off and setting them does nothing (pyserial would end the
// session on ENOTTY); parity is asked of it by its kind alone (PARODD, CMSPAR), which it keeps,
// since it refuses every later change while PARENB is asked for; and a word size it refuses
// becomes the ValueError on which the port manager keeps, and answers with, the old value.
// Exit status 77: pyserial is not installed.
inline constexpr const char* kPyserialServer = R"py(
import errno, logging, socket, sys, termios, threading
try:
    import serial, serial.rfc2217
except ImportError:
    sys.exit(77)

def without_lines(call):
    def wrapped(self, *args):
        try:
            return call(self, *args)
        except OSError as e:
            if e.errno not in (errno.ENOTTY, errno.EINVAL):
                raise
            return False
    return wrapped

class PtySerial(serial.Serial):
    _update_dtr_state = without_lines(serial.Serial._update_dtr_state)
    _update_rts_state = without_lines(serial.Serial._update_rts_state)
    cts = property(without_lines(serial.Serial.cts.fget))
    dsr = property(without_lines(serial.Serial.dsr.fget))
    ri = property(without_lines(serial.Serial.ri.fget))
    cd = property(without_lines(serial.Serial.cd.fget))
    def _reconfigure_port(self, *args, **kwargs):
        try:
            super()._reconfigure_port(*args, **kwargs)
        except termios.error as e:
            raise ValueError(str(e))

set_line = termios.tcsetattr
def set_line_without_parenb(fd, when, attributes):
    attributes[2] &= ~termios.PARENB
    set_line(fd, when, attributes)
termios.tcsetattr = set_line_without_parenb

logging.basicConfig(stream=sys.stderr, level=logging.INFO)
port = PtySerial(sys.argv[1], timeout=0.2)
server = socket.create_server(('127.0.0.1', int(sys.argv[2])))
while True:
    conn, _ = server.accept()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    lock = threading.Lock()
    class Link:
        def write(self, data):
            with lock:
                conn.sendall(data)
    link = Link()
    manager = serial.rfc2217.PortManager(port, link, logger=logging.getLogger('rfc2217'))
    alive = True
    def to_network():
        try:
            while alive:
                data = port.read(port.in_waiting or 1)
                if data:
                    link.write(b''.join(manager.escape(data)))
        except OSError:
            pass
    reader = threading.Thread(target=to_network)
    reader.start()
    try:
        while data := conn.recv(65536):
            port.write(b''.join(manager.filter(data)))
    except OSError:
        pass
    alive = False
    reader.join()
    conn.close()
)py";

// A server of the kind given on a free port of 127.0.0.1, listening when made, with a
// pseudo-terminal of its own behind it. When it cannot run, failure() says why, and missing()
// whether that is because it is not installed.
class SerialServer {
public:
    // device: the port the server shares; its own pseudo-terminal when empty.
    explicit SerialServer(ServerKind kind, std::string device = {})
        : kind_(kind), device_(device.empty() ? line_.path : std::move(device)) {
        char dir[] = "/tmp/quillmor-server-XXXXXX";
        if (!::mkdtemp(dir)) {
            failure_ = "mkdtemp failed";
            return;
        }
        dir_ = dir;
        port_ = freePort();
        if (kind == ServerKind::kPyserialRfc2217) {
            start({"/usr/bin/python3", "-c", kPyserialServer, device_, std::to_string(port_)});
            return;
        }
        const std::string ser2net = findSer2net();
        if (ser2net.empty()) {
            missing_ = true;
            failure_ = "ser2net is not installed (Debian package ser2net)";
            return;
        }
        const std::string config = dir_ + "/ser2net.yaml";
        std::ofstream(config) << "connection: &port\n"
                              << "  accepter: "
                              << (kind == ServerKind::kSer2netRaw ? "" : "telnet(rfc2217),")
                              << "tcp,127.0.0.1," << port_ << "\n"
                              << "  connector: serialdev," << device_ << ",9600n81,local\n"
                              << "  options:\n"
                              << "    kickolduser: true\n";
        // -d: in the foreground, its log on standard output; -u: no UUCP lock files left
        // behind by a server the tests kill.
        start({ser2net, "-d", "-u", "-c", config});
    }
    ~SerialServer() {
        stop(SIGTERM);
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    SerialServer(const SerialServer&) = delete;
    SerialServer& operator=(const SerialServer&) = delete;

    const std::string& failure() const { return failure_; }
    bool missing() const { return missing_; }
    std::string deviceName() const {
        return std::string(kind_ == ServerKind::kSer2netRaw ? "socket" : "rfc2217") +
               "://127.0.0.1:" + std::to_string(port_);
    }
    const PseudoTerminal& line() const { return line_; }
    // Ends the server at once: its connections drop as when a server dies or a cable is pulled.
    void kill() { stop(SIGKILL); }
    // What the server has logged so far.
    std::string log() const {
        std::ostringstream text;
        text << std::ifstream(dir_ + "/server.log").rdbuf();
        return text.str();
    }

    // A port of 127.0.0.1 nobody listens on (at the moment of asking).
    static int freePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        int port = 0;
        if (::bind(s, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
        ::close(s);
        return port;
    }

private:
    // ser2net lives in /usr/sbin, which a user's PATH may lack.
    static std::string findSer2net() {
        std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
        dirs += ":/usr/sbin:/sbin";
        std::istringstream list(dirs);
        for (std::string dir; std::getline(list, dir, ':');) {
            const std::string candidate = dir + "/ser2net";
            if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        return {};
    }

    // The server in a session of its own (no signal meant for the test's terminal reaches it),
    // its output in the log; it dies with the thread that started it, so a test that crashes or
    // is killed leaves no server behind. Only async-signal-safe calls between fork and exec.
    void start(const std::vector<std::string>& args) {
        const std::string log = dir_ + "/server.log";
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setsid();
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) _exit(1);
            const int input = ::open("/dev/null", O_RDONLY);
            const int output = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (input < 0 || output < 0) _exit(1);
            ::dup2(input, 0);
            ::dup2(output, 1);
            ::dup2(output, 2);
            ::execv(argv[0], argv.data());
            _exit(kCannotRun);
        }
        if (pid_ < 0) {
            failure_ = std::string("fork: ") + std::strerror(errno);
            return;
        }
        waitUntilListening();
    }

    // Until the kernel lists the port as listening, or the server has ended.
    void waitUntilListening() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!listening()) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                missing_ = code == kNoPyserial || code == kCannotRun;
                if (code == kNoPyserial)
                    failure_ = "pyserial is not installed (Debian package python3-serial)";
                else if (code == kCannotRun)
                    failure_ = "the server's program cannot be run: " + log();
                else
                    failure_ = "the server ended (status " + std::to_string(code) + "): " + log();
                return;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                failure_ = "the server does not listen on " + deviceName() + ": " + log();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    bool listening() const {
        std::ifstream table("/proc/net/tcp");
        std::string row;
        std::getline(table, row);
        while (std::getline(table, row)) {
            unsigned address = 0, port = 0, state = 0;
            if (std::sscanf(row.c_str(), " %*u: %x:%x %*x:%*x %x", &address, &port, &state) == 3 &&
                static_cast<int>(port) == port_ && state == 0x0A)
                return true;
        }
        return false;
    }

    void stop(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    static constexpr int kNoPyserial = 77;  // the script's exit status
    static constexpr int kCannotRun = 127;  // exec failed, as a shell reports it

    ServerKind kind_;
    PseudoTerminal line_;
    std::string device_;
    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    bool missing_ = false;
    std::string failure_;
};

}  // namespace commtest
