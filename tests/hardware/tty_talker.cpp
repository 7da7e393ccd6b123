#include "tty_talker.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace hardware_test {

Transfer talkThroughTtyS1(int bytes, std::chrono::milliseconds holdOpen) {
    using Clock = std::chrono::steady_clock;
    Transfer result;
    const int fd = ::open("/dev/ttyS1", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return result;
    result.opened = true;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B9600);
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
    ::tcflush(fd, TCIOFLUSH);
    // A transmitter stalled by someone else's reads must not hold close() for half a minute.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.closing_wait = ASYNC_CLOSING_WAIT_NONE;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }

    std::vector<unsigned char> out(static_cast<size_t>(bytes));
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>('A' + i % 26);
    unsigned char in[64];
    const auto start = Clock::now();
    const auto readWhatCame = [&] {
        const ssize_t got = ::read(fd, in, sizeof in);
        for (ssize_t i = 0; i < got; ++i) {
            if (in[i] == out[static_cast<size_t>(result.inOrder)]) ++result.inOrder;
        }
        if (got <= 0) return;
        result.received += static_cast<int>(got);
        result.lastByteMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    // QEMU's UART sends a byte the moment it is written, so the program keeps the pace of a
    // real line itself: one 10-bit character every 1.04 ms.
    const auto character = std::chrono::microseconds(1042);
    for (int i = 0; i < bytes; ++i) {
        if (::write(fd, &out[static_cast<size_t>(i)], 1) == 1) ++result.sent;
        readWhatCame();
        std::this_thread::sleep_until(start + (i + 1) * character);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (result.received < result.sent && Clock::now() < deadline) {
        readWhatCame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    serial_icounter_struct counts{};
    if (::ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        result.transmitted = counts.tx;
        result.driverReceived = counts.rx;
        result.overruns = counts.overrun;
    }
    std::this_thread::sleep_for(holdOpen);
    ::tcflush(fd, TCIOFLUSH);
    ::close(fd);
    return result;
}

}  // namespace hardware_test
