#pragma once

#include <array>
#include <cstdint>

// The registers of the 8250/16450/16550 family as a PC reaches them: offsets from a port's base
// address and the bits of each register, named as the data sheet names them.
namespace uart {

// Where a PC's COM1 to COM4 sit.
inline constexpr std::array<uint16_t, 4> kComBase = {0x3F8, 0x2F8, 0x3E8, 0x2E8};

// Offsets; DLAB switches 0 and 1 to the divisor latch.
namespace reg {
inline constexpr uint8_t kRbrThrDll = 0;
inline constexpr uint8_t kIerDlm = 1;
inline constexpr uint8_t kIirFcr = 2;
inline constexpr uint8_t kLcr = 3;
inline constexpr uint8_t kMcr = 4;
inline constexpr uint8_t kLsr = 5;
inline constexpr uint8_t kMsr = 6;
inline constexpr uint8_t kScr = 7;
}  // namespace reg

// Interrupt enable.
inline constexpr uint8_t kIerRda = 0x01;   // received data available (and its time-out)
inline constexpr uint8_t kIerThre = 0x02;  // transmitter holding register empty
inline constexpr uint8_t kIerRls = 0x04;   // receiver line status
inline constexpr uint8_t kIerMs = 0x08;    // modem status
inline constexpr uint8_t kIerAll = 0x0F;

// Interrupt identification: the bits under kIirIdMask name the interrupt.
inline constexpr uint8_t kIirNone = 0x01;
inline constexpr uint8_t kIirIdMask = 0x0F;
inline constexpr uint8_t kIirMs = 0x00;
inline constexpr uint8_t kIirThre = 0x02;
inline constexpr uint8_t kIirRda = 0x04;
inline constexpr uint8_t kIirRls = 0x06;
inline constexpr uint8_t kIirTimeout = 0x0C;
inline constexpr uint8_t kIirFifosOn = 0xC0;

// FIFO control; the top two bits are the receiver trigger level.
inline constexpr uint8_t kFcrEnable = 0x01;
inline constexpr uint8_t kFcrClearRx = 0x02;
inline constexpr uint8_t kFcrClearTx = 0x04;
inline constexpr uint8_t kFcrTrigger8 = 0x80;

// Line control.
inline constexpr uint8_t kLcrWordLength = 0x03;  // 5 to 8 data bits as 0 to 3
inline constexpr uint8_t kLcrStop2 = 0x04;       // 1.5 stop bits with 5-bit words, else 2
inline constexpr uint8_t kLcrParity = 0x08;
inline constexpr uint8_t kLcrEvenParity = 0x10;
inline constexpr uint8_t kLcrStickParity = 0x20;
inline constexpr uint8_t kLcrFormat = 0x3F;  // word length, stop bits and parity
inline constexpr uint8_t kLcrBreak = 0x40;
inline constexpr uint8_t kLcrDlab = 0x80;

// Modem control.
inline constexpr uint8_t kMcrDtr = 0x01;
inline constexpr uint8_t kMcrRts = 0x02;
inline constexpr uint8_t kMcrOut1 = 0x04;
inline constexpr uint8_t kMcrOut2 = 0x08;  // gates the UART's interrupt onto the PC's IRQ line
inline constexpr uint8_t kMcrLoop = 0x10;
inline constexpr uint8_t kMcrMask = 0x1F;

// Line status.
inline constexpr uint8_t kLsrDr = 0x01;
inline constexpr uint8_t kLsrOe = 0x02;
inline constexpr uint8_t kLsrPe = 0x04;
inline constexpr uint8_t kLsrFe = 0x08;
inline constexpr uint8_t kLsrBi = 0x10;
inline constexpr uint8_t kLsrThre = 0x20;
inline constexpr uint8_t kLsrTemt = 0x40;
inline constexpr uint8_t kLsrFifoError = 0x80;
inline constexpr uint8_t kLsrErrors = kLsrOe | kLsrPe | kLsrFe | kLsrBi;

// Modem status: deltas below, line states above.
inline constexpr uint8_t kMsrDcts = 0x01;
inline constexpr uint8_t kMsrDdsr = 0x02;
inline constexpr uint8_t kMsrTeri = 0x04;  // RI went from on to off
inline constexpr uint8_t kMsrDdcd = 0x08;
inline constexpr uint8_t kMsrCts = 0x10;
inline constexpr uint8_t kMsrDsr = 0x20;
inline constexpr uint8_t kMsrRi = 0x40;
inline constexpr uint8_t kMsrDcd = 0x80;

}  // namespace uart
