#pragma once

#include <QString>
#include <vector>

#include "platform/port_catalog.h"

namespace ports {

// One line that tells a person which port this is: the node, then for a USB adapter its
// product, maker, serial number and driver, for a UART its type, I/O address, IRQ and card;
// the stable name it is opened by, and who has it open.
QString portLine(const platform::PortInfo& port);

// "picocom (pid 4711), tio (pid 815)"; empty for nobody.
QString holdersText(const std::vector<platform::PortHolder>& holders);

}  // namespace ports
