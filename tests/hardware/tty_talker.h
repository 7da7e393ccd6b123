#pragma once

#include <chrono>

namespace hardware_test {

// What a program saw that sent bytes through the kernel's serial driver on /dev/ttyS1 and read
// them back over the loopback wire behind COM2, and what the driver counted.
struct Transfer {
    bool opened = false;
    int sent = 0;           // bytes handed to write()
    int received = 0;       // bytes read back before the deadline
    int inOrder = 0;        // of those, how many were the next byte expected
    double lastByteMs = 0;  // from the first write to the last byte read
    int transmitted = 0;    // the driver's counts (TIOCGICOUNT)
    int driverReceived = 0;
    int overruns = 0;
};

// Opens /dev/ttyS1 at 9600 8N1 without flow control, sends `bytes` bytes ('A' to 'Z' over and
// over, none of them $0C) at the line's pace, reads back what returns until half a second after
// the last, keeps the port open for holdOpen, then discards what is left unsent and closes it.
Transfer talkThroughTtyS1(int bytes, std::chrono::milliseconds holdOpen);

}  // namespace hardware_test
