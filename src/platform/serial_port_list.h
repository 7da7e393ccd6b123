#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/port_backend.h"

namespace platform {

// The machine's serial ports, in the order a user expects to read them: the simulated COM1 to
// COM4 first while the simulated PC is the port backend, then the kernel's serial devices as
// /dev paths, sorted by name with numbers in numeric order (ttyS2 before ttyS10).
//
// A kernel serial device is an entry of <sysfsRoot>/class/tty that has a "device" link. The
// 8250 driver registers placeholder ports ttyS0..ttySn whether or not a UART answers behind
// them; those report type 0 (no UART) and are left out.
std::vector<std::string> serialPortNames(const std::string& sysfsRoot, bool simulatedPc);

// serialPortNames() for this machine's /sys with the backend chosen at start-up.
std::vector<std::string> installedSerialPorts(PortBackend backend);

// The order of the list: by name, with a trailing number compared as a number.
bool lessByNameAndNumber(std::string_view a, std::string_view b);

}  // namespace platform
