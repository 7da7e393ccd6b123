#include <cctype>

#include "comm/comm_os.h"

namespace comm {

DeviceTarget resolveDeviceName(const std::string& name, bool simulatedBackend) {
    if (name.find('/') != std::string::npos) return DeviceTarget{0, name};
    const bool comPrefix = name.size() > 3 &&
                           std::tolower(static_cast<unsigned char>(name[0])) == 'c' &&
                           std::tolower(static_cast<unsigned char>(name[1])) == 'o' &&
                           std::tolower(static_cast<unsigned char>(name[2])) == 'm';
    int number = 0;
    bool digits = comPrefix && name.size() <= 8 && name[3] != '0';
    for (size_t i = 3; digits && i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) digits = false;
        number = number * 10 + (name[i] - '0');
    }
    if (!digits) return DeviceTarget{0, "/dev/" + name};
    if (simulatedBackend) return DeviceTarget{number, {}};
    return DeviceTarget{0, "/dev/ttyS" + std::to_string(number - 1)};
}

}  // namespace comm
