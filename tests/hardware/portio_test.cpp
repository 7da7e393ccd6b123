// TPortIO on a real kernel: COM2 of the guest machine, reached through the program's own driver
// host with QUILLMOR_PORTS=/dev/port, as a user with real ports runs it. The kernel's serial
// driver does not own COM2 in this boot, so nobody else touches the chip.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "com2.h"
#include "platform/linux_driver_host.h"
#include "portio/port_io.h"

namespace {

using namespace hardware_test;

class Com2ThroughDevPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(io.OpenDriver()) << "error " << io.LastError; }
    void TearDown() override { com2.quiet(); }

    platform::LinuxDriverHost host{platform::PortBackend::DevPort};  // the guest's real ports
    portio::TPortIO io{host};
    Uart com2{io, kCom2};
};

TEST_F(Com2ThroughDevPort, DivisorLatchLivesBehindDlab) {
    com2.write(LCR, 0x83);
    com2.write(DLL, 0x0C);
    com2.write(DLM, 0x00);
    EXPECT_EQ(com2.read(DLL), 0x0C);
    EXPECT_EQ(com2.read(DLM), 0x00);
    com2.write(LCR, 0x03);
    com2.write(IER, 0x05);
    EXPECT_EQ(com2.read(LCR), 0x03);
    EXPECT_EQ(com2.read(IER), 0x05);  // offset 1 is IER again, the latch untouched by it
    com2.write(LCR, 0x83);
    EXPECT_EQ(com2.read(DLL), 0x0C);
    EXPECT_EQ(com2.read(DLM), 0x00);
    com2.write(SCR, 0xA5);
    EXPECT_EQ(com2.read(SCR), 0xA5);
}

// A byte goes out through THR and comes back into RBR over the chip's own loopback, with the
// read side effects a poll must live with: RBR empties the receiver, LSR forgets an overrun,
// IIR forgets a transmitter-empty interrupt. (What QEMU's MSR does in loopback is in the
// comparison with the simulated UART.)
TEST_F(Com2ThroughDevPort, LoopbackCarriesAByteAndReadsTakeWhatTheyReport) {
    com2.write(LCR, 0x80);
    com2.write(DLL, 0x01);
    com2.write(DLM, 0x00);
    com2.write(LCR, 0x03);
    com2.write(MCR, 0x1F);                   // loop, OUT2, OUT1, RTS, DTR
    EXPECT_EQ(com2.read(MSR) & 0xF0, 0xF0);  // DCD from OUT2, RI from OUT1, DSR, CTS

    com2.write(THR, 0x5A);
    ASSERT_TRUE(com2.waitForLineStatus(0x01));
    EXPECT_EQ(com2.read(RBR), 0x5A);
    EXPECT_EQ(com2.read(LSR), 0x60);

    // Waiting by polling LSR would itself clear the overrun, so wait by the clock: a character
    // at 115200 baud takes 87 microseconds.
    com2.write(THR, 0x11);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    com2.write(THR, 0x22);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(com2.read(LSR), 0x63);  // the second byte overran the first
    EXPECT_EQ(com2.read(LSR), 0x61);  // and the first read cleared the overrun
    EXPECT_EQ(com2.read(RBR), 0x22);

    com2.write(IER, 0x02);
    EXPECT_EQ(com2.read(IIR), 0x02);  // transmitter holding register empty
    EXPECT_EQ(com2.read(IIR), 0x01);  // reported once, then gone
}

}  // namespace

namespace {

// The reason the driver host gives when TPortIO cannot open /dev/port in a child process that
// first made itself one of the users who cannot have it; "" when the driver opened.
std::string reasonInChild(void (*become)()) {
    int pipe[2];
    if (::pipe(pipe) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        become();
        platform::LinuxDriverHost host{platform::PortBackend::DevPort};
        portio::TPortIO io(host);
        const std::string reason = io.OpenDriver() ? "" : host.openFailureReason();
        [[maybe_unused]] const ssize_t written = ::write(pipe[1], reason.data(), reason.size());
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string reason;
    char buffer[256];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        reason.append(buffer, got);
    ::close(pipe[0]);
    ::waitpid(child, nullptr, 0);
    return reason;
}

void becomeNobody() {
    [[maybe_unused]] const int dropped = ::setgid(65534) + ::setuid(65534);
}

// Root, but without the capability the kernel asks for.
void dropRawIo() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    ::syscall(SYS_capget, &header, data);
    data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective &= ~CAP_TO_MASK(CAP_SYS_RAWIO);
    ::syscall(SYS_capset, &header, data);
}

// A container without the device: an empty /dev of its own.
void hideDevPort() {
    ::unshare(CLONE_NEWNS);
    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    ::mount("none", "/dev", "tmpfs", 0, nullptr);
}

TEST(DevPortRefused, EachReasonIsToldAsTheKernelGivesIt) {
    EXPECT_EQ(reasonInChild([] {}), "");
    EXPECT_EQ(reasonInChild(becomeNobody),
              "quillmor: real ports cannot be reached: /dev/port: permission denied; it needs "
              "root (the CAP_SYS_RAWIO capability)");
    EXPECT_EQ(reasonInChild(dropRawIo),
              "quillmor: real ports cannot be reached: /dev/port: not permitted without the "
              "CAP_SYS_RAWIO capability");
    EXPECT_EQ(reasonInChild(hideDevPort),
              "quillmor: real ports cannot be reached: /dev/port does not exist in this kernel "
              "or container");
}

// Only in the guest booted with lockdown=integrity: root itself is refused, and told why.
TEST(DevPortRefused, UnderLockdownRootIsToldWhichModeForbidsIt) {
    const std::string file = "/sys/kernel/security/lockdown";
    ASSERT_EQ(platform::activeLockdown(file), "integrity");
    EXPECT_EQ(reasonInChild([] {}),
              "quillmor: real ports cannot be reached: /dev/port: kernel lockdown (integrity) "
              "forbids it, see " +
                  file);
    EXPECT_EQ(reasonInChild(becomeNobody),
              "quillmor: real ports cannot be reached: /dev/port: permission denied; it needs "
              "root (the CAP_SYS_RAWIO capability)");
}

}  // namespace
