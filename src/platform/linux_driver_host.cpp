#include "platform/linux_driver_host.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>
#include <vector>

#include "sim/simulated_pc.h"

namespace platform {

// Byte access to the ports of one backend.
class PortDevice {
public:
    virtual ~PortDevice() = default;
    // False with the errno in error when the backend refuses.
    virtual bool in(uint16_t port, uint8_t& value, uint32_t& error) = 0;
    virtual bool out(uint16_t port, uint8_t value, uint32_t& error) = 0;
};

namespace {

constexpr char kSystemDirectory[] = "/usr/lib/quillmor";
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr char kVxdFile[] = "zevado.vxd";

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

class SimulatedDevice final : public PortDevice {
public:
    explicit SimulatedDevice(sim::SimulatedPc& pc) : pc_(pc) {}
    bool in(uint16_t port, uint8_t& value, uint32_t&) override {
        value = pc_.in(port);
        return true;
    }
    bool out(uint16_t port, uint8_t value, uint32_t&) override {
        pc_.out(port, value);
        return true;
    }

private:
    sim::SimulatedPc& pc_;
};

// The kernel's port device: the file offset is the port number.
class PortFileDevice final : public PortDevice {
public:
    explicit PortFileDevice(int fd) : fd_(fd) {}
    ~PortFileDevice() override { ::close(fd_); }
    PortFileDevice(const PortFileDevice&) = delete;
    PortFileDevice& operator=(const PortFileDevice&) = delete;

    bool in(uint16_t port, uint8_t& value, uint32_t& error) override {
        return done(::pread(fd_, &value, 1, port), error);
    }
    bool out(uint16_t port, uint8_t value, uint32_t& error) override {
        return done(::pwrite(fd_, &value, 1, port), error);
    }

private:
    static bool done(ssize_t transferred, uint32_t& error) {
        if (transferred == 1) return true;
        error = transferred < 0 ? static_cast<uint32_t>(errno) : EIO;
        return false;
    }
    int fd_;
};

}  // namespace

PortBackend portBackendFromSetting(const char* setting, std::ostream& warnings) {
    const std::string_view value = setting != nullptr ? setting : "";
    if (value.empty() || value == "sim") return PortBackend::Simulated;
    if (value == "/dev/port") return PortBackend::DevPort;
    if (value == "none") return PortBackend::None;
    // The value comes from outside: keep the report on one line whatever it contains.
    std::string shown(value);
    for (char& c : shown) {
        if (!std::isprint(static_cast<unsigned char>(c))) c = '?';
    }
    warnings << "quillmor: QUILLMOR_PORTS=\"" << shown
             << "\" is not sim, /dev/port or none; running without a port driver\n";
    return PortBackend::None;
}

std::string activeLockdown(const std::string& lockdownFile) {
    std::ifstream file(lockdownFile);
    std::string modes;
    std::getline(file, modes);
    const size_t open = modes.find('[');
    const size_t close = modes.find(']', open);
    if (open == std::string::npos || close == std::string::npos) return {};
    std::string active = modes.substr(open + 1, close - open - 1);
    return active == "none" ? std::string() : active;
}

std::string portDeviceTrouble(const std::string& device, int error,
                              const std::string& lockdownFile) {
    const std::string head = "quillmor: real ports cannot be reached: " + device;
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return head + " does not exist in this kernel or container";
        case EACCES:
            return head + ": permission denied; it needs root (the CAP_SYS_RAWIO capability)";
        case EPERM: {
            // The kernel refuses both a process without CAP_SYS_RAWIO and, under lockdown,
            // everyone.
            const std::string lockdown = activeLockdown(lockdownFile);
            if (!lockdown.empty())
                return head + ": kernel lockdown (" + lockdown + ") forbids it, see " +
                       lockdownFile;
            return head + ": not permitted without the CAP_SYS_RAWIO capability";
        }
        default:
            return head + ": " + std::strerror(error);
    }
}

PortTrouble judgePortAccess(const PortAccessFacts& facts) {
    const auto trouble = [&facts](PortObstacle obstacle, std::string detail = {}) {
        return PortTrouble{obstacle, facts.device, std::move(detail)};
    };
    switch (facts.error) {
        case 0:
            return {};
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return trouble(PortObstacle::NoDevice);
        case EACCES:
        case EPERM:
            break;
        default:
            return trouble(PortObstacle::Other, std::strerror(facts.error));
    }
    // Lockdown refuses root and helper alike, so nothing else the user could do would help.
    if (!facts.lockdown.empty()) return trouble(PortObstacle::Lockdown, facts.lockdown);
    if (facts.runningAsRoot) return trouble(PortObstacle::NoRawIo);
    if (!facts.helperInstalled) return trouble(PortObstacle::NoHelper);
    if (!facts.groupExists) return trouble(PortObstacle::HelperNotSetUp);
    if (!facts.groupActive)
        return trouble(facts.listedInGroup ? PortObstacle::GroupNotActive
                                           : PortObstacle::NotInGroup);
    return trouble(PortObstacle::HelperFailed);
}

namespace {

constexpr char kPortGroup[] = "quillmor";

PortAccessFacts gatherPortAccessFacts(const LinuxDriverHostConfig& config, int error) {
    PortAccessFacts facts;
    facts.device = config.portDevice;
    facts.error = error;
    facts.lockdown = activeLockdown(config.lockdownFile);
    facts.runningAsRoot = ::geteuid() == 0;
    facts.helperInstalled = ::access(config.portHelper.c_str(), F_OK) == 0;
    const group* portGroup = ::getgrnam(kPortGroup);
    if (portGroup == nullptr) return facts;
    facts.groupExists = true;
    const gid_t gid = portGroup->gr_gid;
    std::vector<gid_t> groups(static_cast<size_t>(std::max(0, ::getgroups(0, nullptr))));
    groups.resize(static_cast<size_t>(
        std::max(0, ::getgroups(static_cast<int>(groups.size()), groups.data()))));
    facts.groupActive =
        ::getegid() == gid || std::find(groups.begin(), groups.end(), gid) != groups.end();
    if (const passwd* user = ::getpwuid(::getuid())) {
        facts.listedInGroup = user->pw_gid == gid;
        for (char** member = portGroup->gr_mem; member && *member; ++member)
            facts.listedInGroup = facts.listedInGroup || std::strcmp(*member, user->pw_name) == 0;
    }
    return facts;
}

}  // namespace

LinuxDriverHost::LinuxDriverHost(PortBackend backend)
    : LinuxDriverHost(LinuxDriverHostConfig{.backend = backend}) {
    if (const char* helper = std::getenv("QUILLMOR_PORT_HELPER"); helper != nullptr && *helper)
        config_.portHelper = helper;
}

LinuxDriverHost::LinuxDriverHost(LinuxDriverHostConfig config) : config_(std::move(config)) {}

LinuxDriverHost::~LinuxDriverHost() = default;

bool LinuxDriverHost::fail(uint32_t error) {
    lastError_ = error;
    return false;
}

bool LinuxDriverHost::getVersion(uint32_t recordSize, OsVersion& version) {
    // The two record sizes GetVersionExA accepts: the plain and the extended record.
    if (recordSize != 148 && recordSize != 156) return fail(kErrorInvalidParameter);
    version = OsVersion{1, 4, 0};
    return true;
}

Handle LinuxDriverHost::openServiceManager(uint32_t) {
    fail(kErrorNotSupported);
    return 0;
}

Handle LinuxDriverHost::createService(Handle, const std::string&, const std::string&, uint32_t,
                                      uint32_t, uint32_t, uint32_t, const std::string&) {
    fail(kErrorNotSupported);
    return 0;
}

Handle LinuxDriverHost::openService(Handle, const std::string&, uint32_t) {
    fail(kErrorNotSupported);
    return 0;
}

bool LinuxDriverHost::startService(Handle) {
    return fail(kErrorNotSupported);
}
bool LinuxDriverHost::controlService(Handle, uint32_t) {
    return fail(kErrorNotSupported);
}
bool LinuxDriverHost::deleteService(Handle) {
    return fail(kErrorNotSupported);
}
bool LinuxDriverHost::closeServiceHandle(Handle) {
    return fail(kErrorInvalidHandle);
}

std::unique_ptr<PortDevice> LinuxDriverHost::openDevice() {
    switch (config_.backend) {
        case PortBackend::Simulated:
            return std::make_unique<SimulatedDevice>(
                config_.pc != nullptr ? *config_.pc : sim::SimulatedPc::instance());
        case PortBackend::DevPort: {
            int fd = ::open(config_.portDevice.c_str(), O_RDWR | O_CLOEXEC);
            if (fd < 0 && (errno == EACCES || errno == EPERM)) {
                // Not ours to open: the helper's is as good, the kernel checks only at the open.
                const int refusal = errno;
                fd = openThroughPortHelper(config_.portHelper);
                if (fd < 0) errno = refusal;
            }
            if (fd < 0) {
                const int error = errno;
                fail(static_cast<uint32_t>(error));
                // Every confirmation tone reopens the driver: say each reason once.
                std::string reason =
                    portDeviceTrouble(config_.portDevice, error, config_.lockdownFile);
                if (reason != openFailureReason_) std::cerr << reason << '\n';
                openFailureReason_ = std::move(reason);
                openTrouble_ = judgePortAccess(gatherPortAccessFacts(config_, error));
                return nullptr;
            }
            openFailureReason_.clear();
            openTrouble_ = {};
            return std::make_unique<PortFileDevice>(fd);
        }
        case PortBackend::None:
            break;
    }
    fail(kErrorFileNotFound);
    return nullptr;
}

Handle LinuxDriverHost::createFile(const std::string& path, uint32_t, uint32_t, uint32_t,
                                   uint32_t) {
    const std::string prefix = kDevicePrefix;
    if (!sameIgnoringCase(path, prefix + kVxdFile) &&
        !sameIgnoringCase(path, prefix + systemDirectory() + "\\" + kVxdFile)) {
        fail(kErrorFileNotFound);
        return kInvalidHandle;
    }
    Slot* free = nullptr;
    for (Slot& slot : slots_) {
        if (slot.handle == kInvalidHandle) {
            free = &slot;
            break;
        }
    }
    if (free == nullptr) {
        fail(kErrorTooManyOpenFiles);
        return kInvalidHandle;
    }
    std::unique_ptr<PortDevice> device = openDevice();
    if (device == nullptr) return kInvalidHandle;
    free->device = std::move(device);
    free->handle = nextSerial_++ * kSlots + static_cast<Handle>(free - slots_.data());
    return free->handle;
}

LinuxDriverHost::Slot* LinuxDriverHost::slotOf(Handle handle) {
    Slot& slot = slots_[handle & (kSlots - 1)];
    return slot.handle == handle && handle != kInvalidHandle ? &slot : nullptr;
}

bool LinuxDriverHost::deviceIoControl(Handle device, uint32_t code, const void* in, uint32_t inSize,
                                      void* out, uint32_t outSize, uint32_t* bytesReturned) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    Slot* slot = slotOf(device);
    if (slot == nullptr) return fail(kErrorInvalidHandle);
    const bool read = code == kVxdReadCode || code == kServiceReadCode;
    const bool write = code == kVxdWriteCode || code == kServiceWriteCode;
    const uint32_t needIn = read ? kReadRequestSize : kWriteRequestSize;
    if ((!read && !write) || in == nullptr || inSize < needIn ||
        (read && (out == nullptr || outSize < kAnswerSize))) {
        return fail(kErrorInvalidParameter);
    }
    const auto* request = static_cast<const uint8_t*>(in);
    const auto port = static_cast<uint16_t>(request[0] | request[1] << 8);
    uint32_t error = 0;
    if (write) return slot->device->out(port, request[2], error) || fail(error);
    auto* answer = static_cast<uint8_t*>(out);
    if (!slot->device->in(port, answer[0], error)) return fail(error);
    answer[1] = 0;
    if (bytesReturned != nullptr) *bytesReturned = kAnswerSize;
    return true;
}

bool LinuxDriverHost::closeHandle(Handle handle) {
    Slot* slot = slotOf(handle);
    if (slot == nullptr) return fail(kErrorInvalidHandle);
    slot->device.reset();
    slot->handle = kInvalidHandle;
    return true;
}

std::string LinuxDriverHost::currentDirectory() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::current_path(error);
    if (error) {
        fail(static_cast<uint32_t>(error.value()));
        return {};
    }
    return path.string();
}

std::string LinuxDriverHost::systemDirectory() {
    return kSystemDirectory;
}

bool LinuxDriverHost::fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

void LinuxDriverHost::sleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint32_t LinuxDriverHost::lastError() {
    return lastError_;
}

}  // namespace platform
