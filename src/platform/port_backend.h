#pragma once

namespace platform {

// Where the program's ports come from, chosen once at start-up: the I/O ports the driver host
// serves, the serial ports listed, and what a "COMn" name opens all follow it.
enum class PortBackend {
    Simulated,  // the built-in simulated PC
    DevPort,    // the kernel's port device: real hardware, needs CAP_SYS_RAWIO
    None,       // no driver at all
};

}  // namespace platform
