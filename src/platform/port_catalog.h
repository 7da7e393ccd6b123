#pragma once

#include <string>
#include <vector>

struct udev;
struct udev_monitor;

namespace platform {

// A process that has a serial device open or locked.
struct PortHolder {
    int pid = 0;
    std::string name;  // the process's command name, as /proc gives it
    bool operator==(const PortHolder&) const = default;
};

// One serial device of the machine and what a person knows it by. Fields that do not apply
// stay empty (or 0, -1).
struct PortInfo {
    std::string device;  // the device node, "/dev/ttyUSB0"
    // The stable names udev's rules made for it: /dev/serial/by-id links first, then by-path.
    std::vector<std::string> byId;
    std::vector<std::string> byPath;
    std::string driver;  // "ftdi_sio", "cdc_acm", "serial8250", "serial" (a PCI card)
    // A USB adapter: as its descriptors say, and the socket it is plugged into ("1-1.2").
    std::string vendor;
    std::string product;
    std::string serial;
    std::string vendorId;
    std::string productId;
    std::string usbSocket;
    // A UART of the 8250 family at an I/O address; the PCI card it sits on, if any.
    unsigned ioPort = 0;
    int irq = -1;
    std::string uartType;  // "16550A"
    std::string pciCard;   // "0000:00:04.0 [1b36:0003]" and the card's name where udev knows it
    std::vector<PortHolder> holders;

    // The name to open it by: by-id where there is one, then by-path, then the node.
    const std::string& stableName() const;
    bool isUart() const { return ioPort != 0; }
    bool operator==(const PortInfo&) const = default;
};

// Where the catalog looks. Tests point devRoot at a folder of their own and leave udev out.
struct CatalogPlaces {
    std::string devRoot = "/dev";
    bool useUdev = true;
};

// Every serial port the kernel has, sorted by device name with numbers in numeric order:
// devices of the tty class that have hardware behind them (not the virtual consoles, not the
// 8250 driver's placeholder ports with no UART), with udev's properties; and whatever the
// /dev/serial links point to. A link that points nowhere, or at something that is not a
// character device, is left out. libudev enumerates and reads the properties; the by-id and
// by-path links are read from the folders themselves, because udev's database, where libudev
// would find them, exists only where systemd-udevd runs.
std::vector<PortInfo> listPorts(const CatalogPlaces& places = {});

// The processes that have the device open (from /proc/*/fd, as far as this user may look) or
// hold a lock on it (from /proc/locks, for any user), this one included.
std::vector<PortHolder> portHolders(const std::string& device);

// Who a device is, so that it is known again when it comes back, whatever node it gets: its
// by-id name; else its USB vendor, product and serial number; else, for an adapter without a
// serial number, its vendor and product in the same USB socket; else its node.
struct PortIdentity {
    std::string byId;
    std::string vendorId;
    std::string productId;
    std::string serial;
    std::string usbSocket;
    std::string device;

    static PortIdentity of(const PortInfo& port);
    bool matches(const PortInfo& port) const;
};

// The path a typed port name opens: a name without "/" is looked up under /dev, as the serial
// component does ("ttyUSB0" is /dev/ttyUSB0).
std::string devicePath(const std::string& name);

// The port a name opens, found in a list: by its node or one of its stable names, after links
// are followed. Null when the name is none of them.
const PortInfo* findPort(const std::vector<PortInfo>& ports, const std::string& name);

// Tells when the list may have changed, without polling: the kernel's (or udev's) hot-plug
// events for ttys and inotify on the /dev folder and its serial link folders. fd() becomes
// readable on a change; takeChanges() reads what is pending and says whether any of it
// concerns serial ports. Pseudo-terminals (/dev/pts) and other devices wake nobody.
class PortWatch {
public:
    explicit PortWatch(const CatalogPlaces& places = {});
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    int fd() const { return epollFd_; }
    bool takeChanges();

private:
    void watchFolders();

    CatalogPlaces places_;
    int epollFd_ = -1;
    int inotifyFd_ = -1;
    int serialFolderWatch_ = -1;
    std::vector<int> linkFolderWatches_;
    ::udev* udev_ = nullptr;
    ::udev_monitor* monitor_ = nullptr;
};

}  // namespace platform
