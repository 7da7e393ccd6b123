// The port helper on a real kernel: installed as the package installs it (group "quillmor",
// mode 0750, file capabilities), it lets a user of that group reach COM2 through /dev/port
// without any privilege of the program's own, and nobody else. The guest's init runs this as
// root; each case runs its user in a child process of its own.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "com2.h"
#include "platform/linux_driver_host.h"
#include "platform/port_helper.h"
#include "portio/port_io.h"

namespace {

namespace fs = std::filesystem;
using namespace hardware_test;

constexpr uid_t kUser = 1000;
const fs::path kHelper = "/tmp/quillmor-helper/quillmor-port-helper";

// The group "quillmor": the machine's own if it has one, else added to a copy of /etc/group
// laid over the read-only original for as long as the program runs.
gid_t quillmorGroup() {
    if (const group* entry = ::getgrnam("quillmor")) return entry->gr_gid;
    std::ifstream in("/etc/group");
    std::stringstream lines;
    lines << in.rdbuf() << "quillmor:x:4242:\n";
    // The first case to ask comes before any helper is installed, so the folder may not be there.
    const fs::path copy = kHelper.parent_path() / "group";
    fs::create_directories(copy.parent_path());
    std::ofstream out(copy);
    out << lines.str() << std::flush;
    EXPECT_TRUE(out.good()) << "cannot write " << copy;
    EXPECT_EQ(::mount(copy.c_str(), "/etc/group", nullptr, MS_BIND, nullptr), 0)
        << std::strerror(errno);
    const group* entry = ::getgrnam("quillmor");
    return entry != nullptr ? entry->gr_gid : 0;
}

// What scripts/package's set-up does, without its tools: owner, mode and the capability xattr.
void installHelper(gid_t group, mode_t mode) {
    fs::create_directories(kHelper.parent_path());
    fs::copy_file("quillmor-port-helper", kHelper, fs::copy_options::overwrite_existing);
    ASSERT_EQ(::chown(kHelper.c_str(), 0, group), 0);
    ASSERT_EQ(::chmod(kHelper.c_str(), mode), 0);  // after chown, which clears capabilities
    vfs_cap_data caps{};
    caps.magic_etc = VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE;
    caps.data[0].permitted = 1u << CAP_DAC_OVERRIDE | 1u << CAP_SYS_RAWIO;
    ASSERT_EQ(::setxattr(kHelper.c_str(), "security.capability", &caps, XATTR_CAPS_SZ_2, 0), 0)
        << std::strerror(errno);
}

// Runs body as the unprivileged user, in or outside the group; its exit code, 0 meaning all
// was as expected, or 99 when the child could not become that user.
int asUser(bool inGroup, gid_t group, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t groups[] = {group};
        if (::setgroups(inGroup ? 1 : 0, groups) != 0 || ::setresgid(kUser, kUser, kUser) != 0 ||
            ::setresuid(kUser, kUser, kUser) != 0) {
            ::_exit(99);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

platform::LinuxDriverHostConfig throughHelper() {
    return {.backend = platform::PortBackend::DevPort, .portHelper = kHelper};
}

class PortHelper : public ::testing::Test {
protected:
    void SetUp() override {
        group = quillmorGroup();
        ASSERT_NE(group, 0u);
        installHelper(group, 0750);
    }
    gid_t group = 0;
};

TEST_F(PortHelper, AGroupMemberReadsCom2ThroughTheHelpersDescriptor) {
    EXPECT_EQ(asUser(true, group,
                     [] {
                         platform::LinuxDriverHost host(throughHelper());
                         portio::TPortIO io(host);
                         if (!io.OpenDriver()) return 1;
                         Uart com2(io, kCom2);
                         com2.write(SCR, 0x5A);
                         if (com2.read(SCR) != 0x5A) return 2;
                         com2.write(SCR, 0xA5);
                         if (com2.read(SCR) != 0xA5) return 3;
                         if ((com2.read(LSR) & 0x60) != 0x60) return 4;  // transmitter idle
                         return 0;
                     }),
              0);
}

// Outside the group the kernel will not even start the helper (mode 0750), so the driver stays
// closed for want of permission, which is what the program then tells the user.
TEST_F(PortHelper, OutsideTheGroupTheDriverStaysClosedForWantOfPermission) {
    EXPECT_EQ(asUser(false, group,
                     [] {
                         platform::LinuxDriverHost host(throughHelper());
                         portio::TPortIO io(host);
                         if (io.OpenDriver()) return 1;
                         return io.LastError == EACCES || io.LastError == EPERM ? 0 : 2;
                     }),
              0);
}

// Should the mode be widened by mistake, the helper itself still refuses: with its capabilities
// it could open the device, yet no descriptor comes back.
TEST_F(PortHelper, TheHelperItselfRefusesAUserOutsideTheGroup) {
    installHelper(group, 0755);
    EXPECT_EQ(
        asUser(false, group, [] { return platform::openThroughPortHelper(kHelper) < 0 ? 0 : 1; }),
        0);
    EXPECT_EQ(asUser(true, group,
                     [] {
                         const int fd = platform::openThroughPortHelper(kHelper);
                         return fd >= 0 ? 0 : 1;
                     }),
              0)
        << "the same helper must serve a member, or the refusal above proves nothing";
}

}  // namespace
