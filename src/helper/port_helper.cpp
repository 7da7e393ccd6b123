// quillmor-port-helper: the one part of QUILLMOR that may hold the right to reach I/O ports.
//
// Installed root:quillmor, mode 0750, with the file capabilities to open the kernel's port
// device, it opens that device read-write, hands the descriptor over the Unix socket on its
// standard input (SCM_RIGHTS), drops every privilege and exits. The kernel checks the right only
// when the device is opened, so the unprivileged program that receives the descriptor can read
// and write ports without ever running privileged itself. It reads nothing from its caller:
// no arguments, no environment, so it cannot be made to open anything else.
//
// Plain C++ and libc only: the fewer libraries a privileged program loads, the better.

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

#ifndef QUILLMOR_PORT_DEVICE
#define QUILLMOR_PORT_DEVICE "/dev/port"
#endif
constexpr char kPortDevice[] = QUILLMOR_PORT_DEVICE;
constexpr char kGroup[] = "quillmor";
constexpr int kSocket = STDIN_FILENO;

// Every failure is told on standard error, which the caller shares, and ends with exit code 1.
int fail(const char* what, int error = 0) {
    if (error != 0)
        std::fprintf(stderr, "quillmor-port-helper: %s: %s\n", what, std::strerror(error));
    else
        std::fprintf(stderr, "quillmor-port-helper: %s\n", what);
    return 1;
}

// glibc has no wrappers for these two; the raw system calls are part of the kernel's ABI.
bool capabilities(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool holdsCapabilities() {
    __user_cap_data_struct data[2]{};
    return !capabilities(data) || (data[0].permitted | data[1].permitted) != 0;
}

// Started with more rights than its caller has: set-id bits or file capabilities.
bool privileged() {
    return ::getauxval(AT_SECURE) != 0 || ::geteuid() != ::getuid() || ::getegid() != ::getgid() ||
           (::getuid() != 0 && holdsCapabilities());
}

// The real user, not the helper's own file, decides: root, or a member of the group. The
// installed mode already keeps everyone else from starting it; this holds even if the mode
// is widened by mistake.
bool callerMayUsePorts() {
    if (::getuid() == 0) return true;
    const group* entry = ::getgrnam(kGroup);
    if (entry == nullptr) return false;
    if (::getgid() == entry->gr_gid) return true;
    const int count = ::getgroups(0, nullptr);
    if (count < 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgroups(count, groups.data()) != count) return false;
    for (gid_t gid : groups)
        if (gid == entry->gr_gid) return true;
    return false;
}

// Back to the caller's own user and group, with no capability left in any set.
bool dropPrivileges() {
    const gid_t gid = ::getgid();
    const uid_t uid = ::getuid();
    if (::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0) return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2]{};
    if (::syscall(SYS_capset, &header, none) != 0) return false;
    __user_cap_data_struct left[2]{};
    return capabilities(left) &&
           (left[0].permitted | left[1].permitted | left[0].effective | left[1].effective) == 0 &&
           ::geteuid() == uid && ::getegid() == gid;
}

bool sendDescriptor(int fd) {
    char byte = 'P';
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ssize_t sent;
    do {
        sent = ::sendmsg(kSocket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == 1;
}

}  // namespace

int main(int argc, char**) {
    if (argc > 1) return fail("takes no arguments; QUILLMOR starts it by itself");
    struct stat socketInfo {};
    if (::fstat(kSocket, &socketInfo) != 0 || !S_ISSOCK(socketInfo.st_mode))
        return fail("standard input is not QUILLMOR's socket; QUILLMOR starts it");
    if (privileged() && !callerMayUsePorts()) {
        return fail(
            "refused: only root and members of the group \"quillmor\" may reach I/O "
            "ports through this helper (ask the administrator to add you: "
            "adduser <user> quillmor, then log in again)");
    }
    const int fd = ::open(kPortDevice, O_RDWR | O_CLOEXEC);
    const int openError = errno;
    if (!dropPrivileges()) return fail("could not drop privileges", errno);
    if (fd < 0) return fail(kPortDevice, openError);
    if (!sendDescriptor(fd)) return fail("could not hand over the descriptor", errno);
    return 0;
}
