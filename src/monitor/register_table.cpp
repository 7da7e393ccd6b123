#include "monitor/register_table.h"

namespace monitor {

std::string hexWriteButtonName(int offset) {
    return "SpeedButton" + std::to_string(7 + 2 * offset);
}

std::string decimalWriteButtonName(int offset) {
    return "SpeedButton" + std::to_string(8 + 2 * offset);
}

std::string bitButtonName(int offset, int bit) {
    return "Button" + std::to_string(8 * offset + (7 - bit) + 1);
}

std::string bitButtonHint(int offset, int bit) {
    // The modem control register's bit 4 switches the UART's loopback.
    if (offset == 4 && bit == 4) return "LOOP ";
    return "Bit " + std::to_string(bit);
}

}  // namespace monitor
