// The program itself, as a process: started on the simulated PC with folders of its own for its
// settings and its pty links, then told to end by a signal, as a session that logs out or a
// `kill` tells it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A hang, not a speed: a close that works takes well under a second.
constexpr auto kEndWithin = 10s;
constexpr auto kStartWithin = 60s;

// The program's environment: the simulated PC, the home, settings and runtime folders given
// and the window system; the rest (the sanitizers' options among it) is the test's own.
std::vector<std::string> programEnvironment(const QString& home, const QString& runtimeFolder,
                                            const std::string& display = {}) {
    std::vector<std::string> variables = {
        display.empty() ? "QT_QPA_PLATFORM=offscreen" : "QT_QPA_PLATFORM=xcb",
        "DISPLAY=" + display,
        "QUILLMOR_PORTS=sim",
        "HOME=" + home.toStdString(),
        "XDG_CONFIG_HOME=" + home.toStdString() + "/config",
        "XDG_RUNTIME_DIR=" + runtimeFolder.toStdString()};
    const size_t own = variables.size();
    for (char** inherited = environ; *inherited != nullptr; ++inherited) {
        const std::string_view variable(*inherited);
        const std::string_view name = variable.substr(0, variable.find('=') + 1);
        if (std::none_of(variables.begin(), variables.begin() + static_cast<ptrdiff_t>(own),
                         [name](const std::string& set) { return set.starts_with(name); }))
            variables.emplace_back(variable);
    }
    return variables;
}

class ProgramProcess {
public:
    ProgramProcess(const QString& home, std::vector<std::string> variables)
        : stderrFile_(home + "/err") {
        std::vector<char*> environment;
        for (std::string& variable : variables) environment.push_back(variable.data());
        environment.push_back(nullptr);
        const int err = ::open(stderrFile_.toStdString().c_str(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        char program[] = QUILLMOR_PROGRAM;
        char* arguments[] = {program, nullptr};
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::dup2(err, STDERR_FILENO);
            ::execve(program, arguments, environment.data());
            ::_exit(127);
        }
        ::close(err);
    }
    ~ProgramProcess() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    QString errors() const {
        QFile file(stderrFile_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Waits until the program has said, on stderr, where its simulated COM3 is: its windows
    // and the simulated PC are up.
    bool waitUntilUp() {
        const auto deadline = std::chrono::steady_clock::now() + kStartWithin;
        while (std::chrono::steady_clock::now() < deadline) {
            if (errors().contains("simulated COM3 is on /dev/pts/")) return true;
            if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
                ended_ = true;
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // The wait status once the program has ended, or -1 if it is still running after the
    // limit.
    int waitForEnd(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!ended_ && std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, &status_, WNOHANG) == pid_)
                ended_ = true;
            else
                std::this_thread::sleep_for(20ms);
        }
        return ended_ ? status_ : -1;
    }

    pid_t pid() const { return pid_; }

private:
    QString stderrFile_;
    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = 0;
};

// Each signal closes the program as its own close does: a first run's settings are written,
// the pty links are removed, and the process ends by itself with success. In one run the
// links' folder is open to others: the program makes no links there, but still says where its
// COM3 and COM4 are.
TEST(ProgramProcess, TermHangupAndInterruptCloseTheProgramAsItsOwnCloseDoes) {
    const struct {
        int number;
        const char* name;
        bool privateFolder;
    } signalCases[] = {
        {SIGTERM, "SIGTERM", true}, {SIGHUP, "SIGHUP", false}, {SIGINT, "SIGINT", true}};
    for (const auto& signalCase : signalCases) {
        SCOPED_TRACE(signalCase.name);
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const QString runtime = home.filePath("runtime");
        ASSERT_TRUE(QDir().mkpath(runtime + "/quillmor"));
        ::chmod(runtime.toStdString().c_str(), 0700);
        ::chmod((runtime + "/quillmor").toStdString().c_str(),
                signalCase.privateFolder ? 0700 : 0777);
        const QString link = runtime + "/quillmor/com3";

        ProgramProcess program(home.path(), programEnvironment(home.path(), runtime));
        ASSERT_TRUE(program.waitUntilUp()) << program.errors().toStdString();
        EXPECT_TRUE(program.errors().contains("simulated COM4 is on /dev/pts/"))
            << program.errors().toStdString();
        EXPECT_EQ(QFileInfo(link).isSymLink(), signalCase.privateFolder);

        ASSERT_EQ(::kill(program.pid(), signalCase.number), 0);
        const int status = program.waitForEnd(kEndWithin);
        ASSERT_NE(status, -1) << "still running " << kEndWithin.count() << " s after the signal";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "wait status " << status << "\n"
            << program.errors().toStdString();
        QFile settings(home.filePath("config/Quillmor/user.ini"));
        ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
        const QByteArray written = settings.readAll();
        for (const char* value : {"Speeker=1", "DataControl=1", "ModalShow=1"}) {
            EXPECT_TRUE(written.contains(value)) << value << " missing in:\n"
                                                 << written.toStdString();
        }
        EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the pty link outlived the program";
    }
}

// A display server of the test's own, on a display number nobody else uses.
class PrivateDisplay {
public:
    PrivateDisplay() {
        int numberPipe[2];
        if (::pipe2(numberPipe, O_CLOEXEC) != 0) return;
        const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        char server[] = "/usr/bin/Xvfb";
        char displayFd[] = "-displayfd", three[] = "3", noListen[] = "-nolisten", tcp[] = "tcp";
        char* arguments[] = {server, displayFd, three, noListen, tcp, nullptr};
        char* noEnvironment[] = {nullptr};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(numberPipe[1], 3);
            ::dup2(quiet, STDOUT_FILENO);
            ::dup2(quiet, STDERR_FILENO);
            ::execve(server, arguments, noEnvironment);
            ::_exit(127);
        }
        ::close(quiet);
        ::close(numberPipe[1]);
        pollfd ready{numberPipe[0], POLLIN, 0};
        std::string number;
        char digit = 0;
        while (::poll(&ready, 1, 20'000) == 1 && ::read(numberPipe[0], &digit, 1) == 1 &&
               digit != '\n')
            number += digit;
        ::close(numberPipe[0]);
        if (!number.empty()) name_ = ":" + number;
    }
    ~PrivateDisplay() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }

    // ":N", or empty when the server did not come up.
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// A program that takes the clipboard and the selection and then never answers: every request
// for their contents would wait for Qt's time-out. It counts the requests.
class HangingSelectionOwner {
public:
    explicit HangingSelectionOwner(const std::string& display)
        : connection_(xcb_connect(display.c_str(), nullptr)) {}
    ~HangingSelectionOwner() { xcb_disconnect(connection_); }

    bool take() {
        if (xcb_connection_has_error(connection_)) return false;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const char clipboardName[] = "CLIPBOARD";
        xcb_intern_atom_reply_t* clipboard = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, sizeof clipboardName - 1, clipboardName),
            nullptr);
        if (clipboard == nullptr) return false;
        for (const xcb_atom_t selection : {clipboard->atom, xcb_atom_t{XCB_ATOM_PRIMARY}})
            xcb_set_selection_owner(connection_, window, selection, XCB_CURRENT_TIME);
        std::free(clipboard);
        return xcb_flush(connection_) > 0;
    }

    // The requests for the selections' contents that come within the time.
    int requestsWithin(std::chrono::milliseconds time) {
        int requests = 0;
        const auto deadline = std::chrono::steady_clock::now() + time;
        pollfd events{xcb_get_file_descriptor(connection_), POLLIN, 0};
        while (std::chrono::steady_clock::now() < deadline) {
            ::poll(&events, 1, 50);
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                if ((event->response_type & 0x7F) == XCB_SELECTION_REQUEST) ++requests;
                std::free(event);
            }
        }
        return requests;
    }

private:
    xcb_connection_t* connection_;
};

// Another program takes the clipboard and the selection and hangs. The program, its viewer
// hidden, must not ask either what they hold: each question would freeze its window, and the
// 1 ms poll with it, until the toolkit gives up.
TEST(ProgramProcess, AnotherProgramTakingTheClipboardIsNotAskedForItsContents) {
    const PrivateDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString runtime = home.filePath("runtime");
    ASSERT_TRUE(QDir().mkdir(runtime));
    ProgramProcess program(home.path(), programEnvironment(home.path(), runtime, display.name()));
    ASSERT_TRUE(program.waitUntilUp()) << program.errors().toStdString();
    // The windows are made right after the line that says the program is up.
    std::this_thread::sleep_for(1s);

    HangingSelectionOwner owner(display.name());
    ASSERT_TRUE(owner.take());
    EXPECT_EQ(owner.requestsWithin(2s), 0);
    ASSERT_EQ(::kill(program.pid(), SIGTERM), 0);
    EXPECT_NE(program.waitForEnd(kEndWithin), -1);
}

}  // namespace
