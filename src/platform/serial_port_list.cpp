#include "platform/serial_port_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <tuple>

namespace platform {

namespace {

namespace fs = std::filesystem;

// A placeholder 8250 port: its "type" attribute exists and reads 0 (PORT_UNKNOWN). Devices of
// other drivers (USB adapters, ACM modems) have no such attribute and are real.
bool isPlaceholderUart(const fs::path& ttyDir) {
    std::ifstream typeFile(ttyDir / "type");
    if (!typeFile) return false;
    long type = -1;
    typeFile >> type;
    return typeFile && type == 0;
}

// Splits "ttyUSB10" into "ttyUSB" and 10, so names sort with their numbers in numeric order.
std::tuple<std::string_view, unsigned long, std::string_view> sortKey(std::string_view name) {
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
    const std::string_view number = name.substr(digits);
    unsigned long value = 0;
    for (const char c : number.substr(0, 18)) value = value * 10 + static_cast<unsigned>(c - '0');
    return {name.substr(0, digits), value, name};
}

std::vector<std::string> kernelSerialDevices(const std::string& sysfsRoot) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(fs::path(sysfsRoot) / "class" / "tty", error), end;
         !error && it != end; it.increment(error)) {
        const fs::path& ttyDir = it->path();
        std::error_code statError;
        if (!fs::exists(ttyDir / "device", statError) || isPlaceholderUart(ttyDir)) continue;
        names.push_back(ttyDir.filename().string());
    }
    std::sort(names.begin(), names.end(), lessByNameAndNumber);
    return names;
}

}  // namespace

bool lessByNameAndNumber(std::string_view a, std::string_view b) {
    return sortKey(a) < sortKey(b);
}

std::vector<std::string> serialPortNames(const std::string& sysfsRoot, bool simulatedPc) {
    std::vector<std::string> ports;
    if (simulatedPc) ports = {"COM1", "COM2", "COM3", "COM4"};
    for (const std::string& device : kernelSerialDevices(sysfsRoot))
        ports.push_back("/dev/" + device);
    return ports;
}

std::vector<std::string> installedSerialPorts(PortBackend backend) {
    return serialPortNames("/sys", backend == PortBackend::Simulated);
}

}  // namespace platform
