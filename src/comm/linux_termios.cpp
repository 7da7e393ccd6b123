#include "comm/linux_termios.h"

#include <cerrno>
#include <utility>

#include "comm/comm_os.h"

namespace comm {

namespace {

constexpr std::pair<uint32_t, speed_t> kSpeeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},    {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},  {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

}  // namespace

bool standardSpeed(uint32_t bitsPerSecond) {
    for (const auto& [rate, code] : kSpeeds)
        if (rate == bitsPerSecond) return true;
    return false;
}

int termiosFromDcb(const Dcb& dcb, termios& t) {
    if (!frameValid(dcb)) return EINVAL;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[dcb.ByteSize - 5];
    static constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                             PARENB | CMSPAR};
    t.c_cflag |= kParities[dcb.Parity];
    // The UART's one stop-bit switch: 1.5 stop bits with 5-bit words, 2 otherwise.
    if (dcb.StopBits != 0) t.c_cflag |= CSTOPB;
    // Every byte received with a parity or framing error, and every break, comes marked in the
    // data (PARMRK), so the traffic stream can mark that very byte; what the DCB's parity
    // check asks for is done to the bytes the program reads.
    t.c_iflag |= INPCK | PARMRK;
    if ((dcb.Flags & kDcbOutxCtsFlow) ||
        (dcb.Flags & kDcbRtsControlMask) == kDcbRtsControlHandshake)
        t.c_cflag |= CRTSCTS;
    if (dcb.Flags & kDcbOutX) t.c_iflag |= IXON;
    if (dcb.Flags & kDcbInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    // A placeholder for a rate termios cannot name; it keeps glibc's own speed checks happy.
    speed_t speed = B38400;
    for (const auto& [rate, code] : kSpeeds)
        if (rate == dcb.BaudRate) speed = code;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return 0;
}

bool frameTaken(const termios& wanted, const termios& got) {
    tcflag_t frame = CSIZE | PARENB | CSTOPB | CRTSCTS;
    // Without PARENB the kind of parity is of no account, and drivers leave it as it was.
    if (wanted.c_cflag & PARENB) frame |= PARODD | CMSPAR;
    return (wanted.c_cflag & frame) == (got.c_cflag & frame);
}

}  // namespace comm
