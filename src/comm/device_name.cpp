#include <atomic>
#include <cctype>
#include <string_view>
#include <utility>

#include "comm/comm_os.h"
#include "sim/simulated_pc.h"

namespace comm {

namespace {

std::atomic<platform::PortBackend> chosenBackend{platform::PortBackend::Simulated};

DeviceTarget ttyPath(std::string path) {
    DeviceTarget target;
    target.path = std::move(path);
    return target;
}

// HOST:PORT after the scheme; the port a number from 1 to 65535.
DeviceTarget networkTarget(DeviceTarget::Kind kind, const std::string& address) {
    DeviceTarget target;
    target.kind = kind;
    std::string host;
    size_t colon = 0;
    if (!address.empty() && address[0] == '[') {
        const size_t close = address.find(']');
        if (close == std::string::npos || close + 1 >= address.size() || address[close + 1] != ':')
            return target;
        host = address.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = address.rfind(':');
        if (colon == std::string::npos) return target;
        host = address.substr(0, colon);
        if (host.find(':') != std::string::npos) return target;
    }
    const std::string digits = address.substr(colon + 1);
    if (host.empty() || digits.empty() || digits.size() > 5) return target;
    unsigned long number = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return target;
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number == 0 || number > 65535) return target;
    target.host = host;
    target.port = static_cast<uint16_t>(number);
    return target;
}

}  // namespace

void usePortBackend(platform::PortBackend backend) {
    chosenBackend = backend;
}

DeviceTarget resolveDeviceName(const std::string& name, platform::PortBackend backend) {
    static constexpr std::string_view kRfc2217 = "rfc2217://";
    static constexpr std::string_view kSocket = "socket://";
    if (name.starts_with(kRfc2217))
        return networkTarget(DeviceTarget::kRfc2217, name.substr(kRfc2217.size()));
    if (name.starts_with(kSocket))
        return networkTarget(DeviceTarget::kRawSocket, name.substr(kSocket.size()));
    if (name.find('/') != std::string::npos) return ttyPath(name);
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
    if (!digits) return ttyPath("/dev/" + name);
    if (backend != platform::PortBackend::Simulated)
        return ttyPath("/dev/ttyS" + std::to_string(number - 1));
    DeviceTarget target;
    target.kind = DeviceTarget::kSimulatedUart;
    target.simulatedCom = number;
    return target;
}

std::shared_ptr<OsPort> osOpen(const std::string& name, int& error) {
    const DeviceTarget target = resolveDeviceName(name, chosenBackend);
    switch (target.kind) {
        case DeviceTarget::kSimulatedUart:
            return openSimulatedPort(sim::SimulatedPc::instance(), target.simulatedCom, error);
        case DeviceTarget::kRfc2217:
        case DeviceTarget::kRawSocket:
            return openNetworkPort(target.host, target.port, target.kind == DeviceTarget::kRfc2217,
                                   error);
        case DeviceTarget::kTtyPath:
            break;
    }
    return openTtyPort(target.path, error);
}

}  // namespace comm
