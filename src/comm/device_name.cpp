#include <atomic>
#include <cctype>

#include "comm/comm_os.h"
#include "sim/simulated_pc.h"

namespace comm {

namespace {

std::atomic<platform::PortBackend> chosenBackend{platform::PortBackend::Simulated};

}  // namespace

void usePortBackend(platform::PortBackend backend) {
    chosenBackend = backend;
}

DeviceTarget resolveDeviceName(const std::string& name, platform::PortBackend backend) {
    if (name.find('/') != std::string::npos) return DeviceTarget{.path = name};
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
    if (!digits) return DeviceTarget{.path = "/dev/" + name};
    if (backend == platform::PortBackend::Simulated)
        return DeviceTarget{
            .kind = DeviceTarget::kSimulatedUart, .simulatedCom = number, .path = {}};
    return DeviceTarget{.path = "/dev/ttyS" + std::to_string(number - 1)};
}

std::shared_ptr<OsPort> osOpen(const std::string& name, int& error) {
    const DeviceTarget target = resolveDeviceName(name, chosenBackend);
    if (target.kind == DeviceTarget::kSimulatedUart)
        return openSimulatedPort(sim::SimulatedPc::instance(), target.simulatedCom, error);
    return openTtyPort(target.path, error);
}

}  // namespace comm
