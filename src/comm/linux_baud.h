#pragma once

#include <cstdint>

namespace comm::linux_baud {

// Any line speed, the ones termios has no B-constant for (14400, 56000, 128000, 256000)
// included. Return 0 or errno.
int setLineSpeed(int fd, uint32_t bitsPerSecond);
int getLineSpeed(int fd, uint32_t& bitsPerSecond);

}  // namespace comm::linux_baud
