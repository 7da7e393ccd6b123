#include "platform/port_catalog.h"

#include <libudev.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>
#include <system_error>

#include "platform/serial_port_list.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

std::string text(const char* value) {
    return value ? std::string(value) : std::string();
}

std::string sysattr(udev_device* device, const char* name) {
    std::string value = text(udev_device_get_sysattr_value(device, name));
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
    return value;
}

std::string property(udev_device* device, const char* name) {
    return text(udev_device_get_property_value(device, name));
}

// The serial core's port types (PORT_* of the kernel's serial_core.h) that PCs have.
std::string uartTypeName(long type) {
    static const std::map<long, const char*> names = {
        {1, "8250"},     {2, "16450"},     {3, "16550"},   {4, "16550A"},   {5, "Cirrus"},
        {6, "ST16650"},  {7, "ST16650V2"}, {8, "TI16750"}, {9, "Startech"}, {10, "16C950/954"},
        {11, "ST16654"}, {12, "XR16850"},  {13, "RSA"},    {14, "NS16550A"}};
    const auto found = names.find(type);
    return found != names.end() ? found->second : "type " + std::to_string(type);
}

void describeUsb(udev_device* tty, PortInfo& port) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    if (!usb) return;
    port.vendor = sysattr(usb, "manufacturer");
    port.product = sysattr(usb, "product");
    port.serial = sysattr(usb, "serial");
    port.vendorId = sysattr(usb, "idVendor");
    port.productId = sysattr(usb, "idProduct");
    port.usbSocket = text(udev_device_get_sysname(usb));
    // Descriptors without strings: the names udev's hardware database gives the numbers.
    if (port.vendor.empty()) port.vendor = property(tty, "ID_VENDOR_FROM_DATABASE");
    if (port.product.empty()) port.product = property(tty, "ID_MODEL_FROM_DATABASE");
}

void describeUart(udev_device* tty, PortInfo& port) {
    const std::string type = sysattr(tty, "type");
    if (type.empty()) return;
    port.uartType = uartTypeName(std::strtol(type.c_str(), nullptr, 10));
    port.ioPort = static_cast<unsigned>(std::strtoul(sysattr(tty, "port").c_str(), nullptr, 0));
    const std::string irq = sysattr(tty, "irq");
    if (!irq.empty()) port.irq = static_cast<int>(std::strtol(irq.c_str(), nullptr, 10));
    udev_device* pci = udev_device_get_parent_with_subsystem_devtype(tty, "pci", nullptr);
    if (!pci) return;
    auto hex = [](std::string id) { return id.starts_with("0x") ? id.substr(2) : id; };
    port.pciCard = text(udev_device_get_sysname(pci)) + " [" + hex(sysattr(pci, "vendor")) + ":" +
                   hex(sysattr(pci, "device")) + "]";
    const std::string cardName = property(pci, "ID_MODEL_FROM_DATABASE");
    if (!cardName.empty()) port.pciCard += " " + cardName;
}

// The tty class's devices with hardware behind them, as udev knows them.
std::vector<PortInfo> udevPorts() {
    std::vector<PortInfo> ports;
    ::udev* context = udev_new();
    if (!context) return ports;
    udev_enumerate* enumerate = udev_enumerate_new(context);
    udev_enumerate_add_match_subsystem(enumerate, "tty");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        udev_device* tty = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (!tty) continue;
        const std::string devnode = text(udev_device_get_devnode(tty));
        udev_device* parent = udev_device_get_parent(tty);
        // Virtual consoles, pseudo-terminal masters and the like have no device behind them;
        // the 8250 driver's placeholders have one but say their UART type is unknown (0).
        const bool placeholder = sysattr(tty, "type") == "0";
        if (!devnode.empty() && parent && !placeholder) {
            PortInfo port;
            port.device = devnode;
            // Newer kernels put the serial core's own devices ("ctrl", "port", on the bus
            // serial-base) between the tty and the device whose driver names the hardware.
            for (udev_device* up = parent; up && port.driver.empty();
                 up = udev_device_get_parent(up)) {
                if (text(udev_device_get_subsystem(up)) != "serial-base")
                    port.driver = text(udev_device_get_driver(up));
            }
            describeUsb(tty, port);
            describeUart(tty, port);
            ports.push_back(std::move(port));
        }
        udev_device_unref(tty);
    }
    udev_enumerate_unref(enumerate);
    udev_unref(context);
    return ports;
}

bool isCharacterDevice(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// Adds the links of one /dev/serial folder to the ports they point at; a link to a device
// that udev did not list still names a serial device (its rules made it), so it gets an entry.
void addLinks(const fs::path& folder, std::vector<std::string> PortInfo::*names,
              std::vector<PortInfo>& ports) {
    std::error_code error;
    std::vector<fs::path> links;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        std::error_code resolveError;
        const fs::path target = fs::canonical(link, resolveError);
        if (resolveError || !isCharacterDevice(target)) continue;
        auto port = std::find_if(ports.begin(), ports.end(), [&](const PortInfo& p) {
            std::error_code ignored;
            return p.device == target.string() || fs::equivalent(p.device, target, ignored);
        });
        if (port == ports.end()) {
            ports.push_back(PortInfo{});
            port = ports.end() - 1;
            port->device = target.string();
        }
        ((*port).*names).push_back(link.string());
    }
}

std::string processName(int pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// Every holder of every device in one pass over /proc: by device number for the open files,
// by file system and inode for the locks.
std::map<dev_t, std::vector<PortHolder>> holdersByDevice(const std::vector<std::string>& devices) {
    std::map<dev_t, std::vector<PortHolder>> holders;
    std::map<std::pair<unsigned long long, unsigned long long>, dev_t> byInode;
    for (const std::string& device : devices) {
        struct stat st {};
        if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
        holders[st.st_rdev];
        byInode[{st.st_dev, st.st_ino}] = st.st_rdev;
    }
    if (holders.empty()) return holders;
    const auto add = [&holders](dev_t device, int pid) {
        std::vector<PortHolder>& list = holders[device];
        if (std::none_of(list.begin(), list.end(),
                         [pid](const PortHolder& h) { return h.pid == pid; }))
            list.push_back({pid, processName(pid)});
    };
    std::error_code error;
    for (fs::directory_iterator proc("/proc", error), end; !error && proc != end;
         proc.increment(error)) {
        const std::string pidText = proc->path().filename().string();
        if (pidText.empty() || !std::all_of(pidText.begin(), pidText.end(), ::isdigit)) continue;
        const int pid = std::stoi(pidText);
        std::error_code fdError;
        for (fs::directory_iterator fd(proc->path() / "fd", fdError), fdEnd;
             !fdError && fd != fdEnd; fd.increment(fdError)) {
            struct stat st {};
            if (::stat(fd->path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
                holders.count(st.st_rdev))
                add(st.st_rdev, pid);
        }
    }
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the file system's device in hex.
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        int pid = 0;
        if (!(fields >> number >> kind)) continue;
        if (kind == "->") fields >> kind;  // a waiter
        if (!(fields >> mode >> access >> pid >> where)) continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        const auto found = byInode.find({makedev(major, minor), inode});
        if (found != byInode.end() && pid > 0) add(found->second, pid);
    }
    return holders;
}

}  // namespace

const std::string& PortInfo::stableName() const {
    if (!byId.empty()) return byId.front();
    if (!byPath.empty()) return byPath.front();
    return device;
}

std::vector<PortInfo> listPorts(const CatalogPlaces& places) {
    std::vector<PortInfo> ports;
    if (places.useUdev) ports = udevPorts();
    const fs::path serial = fs::path(places.devRoot) / "serial";
    addLinks(serial / "by-id", &PortInfo::byId, ports);
    addLinks(serial / "by-path", &PortInfo::byPath, ports);
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return lessByNameAndNumber(a.device, b.device);
    });
    std::vector<std::string> devices;
    for (const PortInfo& port : ports) devices.push_back(port.device);
    auto holders = holdersByDevice(devices);
    for (PortInfo& port : ports) {
        struct stat st {};
        if (::stat(port.device.c_str(), &st) == 0) port.holders = holders[st.st_rdev];
    }
    return ports;
}

std::vector<PortHolder> portHolders(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return {};
    return holdersByDevice({device})[st.st_rdev];
}

PortIdentity PortIdentity::of(const PortInfo& port) {
    PortIdentity identity;
    if (!port.byId.empty()) identity.byId = fs::path(port.byId.front()).filename().string();
    identity.vendorId = port.vendorId;
    identity.productId = port.productId;
    identity.serial = port.serial;
    identity.usbSocket = port.usbSocket;
    identity.device = port.device;
    return identity;
}

bool PortIdentity::matches(const PortInfo& port) const {
    const bool sameProduct =
        !vendorId.empty() && vendorId == port.vendorId && productId == port.productId;
    if (sameProduct && !serial.empty()) return serial == port.serial;
    if (!byId.empty())
        return std::any_of(port.byId.begin(), port.byId.end(), [this](const std::string& link) {
            return fs::path(link).filename() == byId;
        });
    if (sameProduct) return port.serial.empty() && usbSocket == port.usbSocket;
    return vendorId.empty() && port.vendorId.empty() && device == port.device;
}

std::string devicePath(const std::string& name) {
    return name.find('/') != std::string::npos ? name : "/dev/" + name;
}

const PortInfo* findPort(const std::vector<PortInfo>& ports, const std::string& name) {
    const std::string path = devicePath(name);
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    for (const PortInfo& port : ports) {
        if (port.device == path || (!error && port.device == target.string())) return &port;
        for (const auto* links : {&port.byId, &port.byPath})
            if (std::find(links->begin(), links->end(), path) != links->end()) return &port;
    }
    return nullptr;
}

PortWatch::PortWatch(const CatalogPlaces& places)
    : places_(places),
      epollFd_(::epoll_create1(EPOLL_CLOEXEC)),
      inotifyFd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    epoll_event wake{};
    wake.events = EPOLLIN;
    if (inotifyFd_ >= 0) {
        ::inotify_add_watch(inotifyFd_, places_.devRoot.c_str(),
                            IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO);
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, inotifyFd_, &wake);
        watchFolders();
    }
    if (!places_.useUdev) return;
    udev_ = udev_new();
    // Where systemd-udevd runs its events come once its rules have made the links; elsewhere
    // (a container, a bare guest) only the kernel's own events come.
    const bool udevd = fs::exists("/run/udev/control");
    monitor_ = udev_ ? udev_monitor_new_from_netlink(udev_, udevd ? "udev" : "kernel") : nullptr;
    if (!monitor_) return;
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr);
    if (udev_monitor_enable_receiving(monitor_) == 0)
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, udev_monitor_get_fd(monitor_), &wake);
}

PortWatch::~PortWatch() {
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
    if (inotifyFd_ >= 0) ::close(inotifyFd_);
    if (epollFd_ >= 0) ::close(epollFd_);
}

// The serial folder and its link folders come and go with the first and the last device that
// has links; they are watched from the moment they exist.
void PortWatch::watchFolders() {
    const fs::path serial = fs::path(places_.devRoot) / "serial";
    constexpr uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
    serialFolderWatch_ = ::inotify_add_watch(inotifyFd_, serial.c_str(), kChanges | IN_ONLYDIR);
    linkFolderWatches_.clear();
    for (const char* folder : {"by-id", "by-path"}) {
        const int watch =
            ::inotify_add_watch(inotifyFd_, (serial / folder).c_str(), kChanges | IN_ONLYDIR);
        if (watch >= 0) linkFolderWatches_.push_back(watch);
    }
}

bool PortWatch::takeChanges() {
    bool changed = false;
    bool foldersMayHaveChanged = false;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; inotifyFd_ >= 0 && (n = ::read(inotifyFd_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const std::string_view name = event->len ? event->name : "";
            const bool linkFolder = event->wd == serialFolderWatch_ ||
                                    std::find(linkFolderWatches_.begin(), linkFolderWatches_.end(),
                                              event->wd) != linkFolderWatches_.end();
            if (linkFolder || name.starts_with("tty") || name.starts_with("rfcomm") ||
                name == "serial") {
                changed = true;
                foldersMayHaveChanged |= event->wd == serialFolderWatch_ || name == "serial" ||
                                         (event->mask & IN_IGNORED) != 0;
            }
        }
    }
    if (foldersMayHaveChanged) watchFolders();
    while (monitor_) {
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (!device) break;
        changed = true;
        udev_device_unref(device);
    }
    return changed;
}

}  // namespace platform
