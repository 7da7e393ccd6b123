#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

#include "portio/port_io.h"

namespace hardware_test {

// COM2's registers in the guest machine: the kernel's 8250 driver leaves it alone (boot
// "fresh") or owns it as /dev/ttyS1 (boot "driver").
inline constexpr uint16_t kCom2 = 0x2F8;
enum Offset : uint8_t {
    RBR = 0,
    THR = 0,
    DLL = 0,
    IER = 1,
    DLM = 1,
    IIR = 2,
    FCR = 2,
    LCR = 3,
    MCR = 4,
    LSR = 5,
    MSR = 6,
    SCR = 7
};

// Register access at one base through a port component.
class Uart {
public:
    Uart(portio::TPortIO& io, uint16_t base) : io_(io), base_(base) {}
    uint8_t read(uint8_t offset) {
        return static_cast<uint8_t>(io_.ReadPort(static_cast<uint16_t>(base_ + offset)));
    }
    void write(uint8_t offset, uint8_t value) {
        io_.WritePort(static_cast<uint16_t>(base_ + offset), value);
    }
    // Waits, polling LSR, until any of the bits in mask is set; false after a second. What LSR
    // reads on the way is lost, as for any program that polls it.
    bool waitForLineStatus(uint8_t mask) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while ((read(LSR) & mask) == 0) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return true;
    }
    // The state the kernel's probe leaves: no DLAB, no interrupts, no FIFO, outputs low.
    void quiet() {
        write(LCR, 0x03);
        write(IER, 0);
        write(FCR, 0x06);
        write(FCR, 0);
        write(MCR, 0);
        while (read(LSR) & 0x01) read(RBR);
        read(MSR);
    }

private:
    portio::TPortIO& io_;
    uint16_t base_;
};

}  // namespace hardware_test
