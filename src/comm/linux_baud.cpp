// Arbitrary line speeds need the kernel's termios2 (TCGETS2/TCSETS2 with BOTHER), declared in
// <asm/termbits.h>, which redefines struct termios and cannot share a file with <termios.h>.
#include "comm/linux_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace comm::linux_baud {

int setLineSpeed(int fd, uint32_t bitsPerSecond) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_cflag &= ~(CBAUD << IBSHIFT);  // input at the output speed
    t.c_ospeed = bitsPerSecond;
    t.c_ispeed = bitsPerSecond;
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

int getLineSpeed(int fd, uint32_t& bitsPerSecond) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    bitsPerSecond = t.c_ospeed;
    return 0;
}

}  // namespace comm::linux_baud
