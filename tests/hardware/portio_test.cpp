// TPortIO on a real kernel: COM2 of the guest machine, reached through the program's own driver
// host with QUILLMOR_PORTS=/dev/port, as a user with real ports runs it. The kernel's serial
// driver does not own COM2 in this boot, so nobody else touches the chip.
#include <gtest/gtest.h>

#include <chrono>
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

    platform::LinuxDriverHost host;  // QUILLMOR_PORTS=/dev/port, set by the guest's init
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
