#pragma once

#include <memory>

#include "platform/driver_host.h"

namespace platform {

// The driver host on Linux. It answers the version query as a system outside the NT family
// (so the component takes the direct "\\.\zevado.vxd" path and makes no service calls) and
// serves the driver device from the port backend named by QUILLMOR_PORTS:
//   sim (default)  the built-in simulated PC
//   /dev/port      the kernel's port device: real hardware, needs CAP_SYS_RAWIO
//   none           no driver: every open fails
// An unknown value is reported once on stderr and counts as a missing driver.
class LinuxDriverHost : public DriverHost {
public:
    LinuxDriverHost();
    ~LinuxDriverHost() override;
    // ... DriverHost overrides (declared in the implementation's header section)
};

}  // namespace platform
