#pragma once

#include <termios.h>

#include <cstdint>

#include "comm/comm.h"

namespace comm {

// Whether termios has a B-constant for the rate; others need linux_baud::setLineSpeed.
bool standardSpeed(uint32_t bitsPerSecond);

// Turns t into the raw line the DCB describes: speed (a standard one; others are set
// afterwards), word size, parity, stop bits, RTS/CTS and XON/XOFF flow control and their
// characters, reads that return at once; errors and breaks always marked in the data (INPCK
// and PARMRK, undone by ParmrkDecoder). Returns EINVAL for a DCB no
// UART can run (4-bit words, unknown parity or stop bits, rate 0), leaving t untouched.
int termiosFromDcb(const Dcb& dcb, termios& t);

// Whether the tty took the frame and flow control asked for in `wanted`: a driver may drop what
// its hardware cannot do (a pseudo-terminal keeps only 8-bit words without parity) and still
// report success.
bool frameTaken(const termios& wanted, const termios& got);

}  // namespace comm
