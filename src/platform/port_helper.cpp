#include "platform/port_helper.h"

#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

extern char** environ;

namespace platform {

namespace {

constexpr char kPkexec[] = "/usr/bin/pkexec";
// pkexec's own exit codes: the password dialog was dismissed, or authorisation was refused.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecRefused = 127;

// Starts a program with the given standard input (-1: the caller's own) and waits for it.
// The exit code, or -1 when it could not be started or did not exit normally.
int runAndWait(const std::vector<std::string>& command, int input, char* const* environment) {
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    pid_t child = 0;
    const int error = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int receiveDescriptor(int socket) {
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received;
    do {
        received = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (received < 0 && errno == EINTR);
    if (received != 1) return -1;
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header == nullptr || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
        header->cmsg_len != CMSG_LEN(sizeof(int))) {
        return -1;
    }
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return fd;
}

}  // namespace

int openThroughPortHelper(const std::string& helper) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return -1;
    // The helper reads nothing from its caller, the environment included.
    char* empty[] = {nullptr};
    const int status = runAndWait({helper}, ends[1], empty);
    ::close(ends[1]);
    // The helper has exited, so the descriptor, if it sent one, is waiting in the socket.
    const int fd = status == 0 ? receiveDescriptor(ends[0]) : -1;
    ::close(ends[0]);
    return fd;
}

PortHelperSetup setUpPortHelper(bool install) {
    const std::string helper = kInstalledPortHelper;
    const std::string action = install ? "install" : "remove";
    struct stat info {};
    if (::stat(helper.c_str(), &info) != 0 || ::stat(kPortHelperSetup, &info) != 0)
        return {false,
                "Помощник портов не установлен (нет " + helper + "): установите пакет quillmor"};
    std::vector<std::string> command = {kPortHelperSetup, action};
    if (::geteuid() != 0) {
        if (::access(kPkexec, X_OK) != 0)
            return {false, "Нужны права root, а pkexec нет: выполните от root " +
                               std::string(kPortHelperSetup) + " " + action};
        command.insert(command.begin(), kPkexec);
    }
    const int status = runAndWait(command, -1, environ);
    if (status == 0) {
        return {true,
                install ? "Помощник портов " + helper +
                              " готов: группа quillmor, доступ к портам для её членов"
                        : "Помощник портов " + helper + ": право доступа к портам и группа сняты"};
    }
    if (command.front() == kPkexec && status == kPkexecDismissed)
        return {false, "Пароль администратора не введён: помощник портов не изменён"};
    if (command.front() == kPkexec && status == kPkexecRefused)
        return {false,
                "pkexec отказал (нет прав или нет службы polkit): помощник портов не изменён"};
    return {false, "Не удалось изменить помощник портов (" + std::string(kPortHelperSetup) + " " +
                       action + ", код " + std::to_string(status) + ")"};
}

}  // namespace platform
