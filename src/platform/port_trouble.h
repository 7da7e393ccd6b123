#pragma once

#include <string>

namespace platform {

// What keeps the user from the machine's real I/O ports, as far as the program can tell, so
// that a window can say it in the user's language together with what to do about it.
enum class PortObstacle {
    None,
    NoDevice,        // the kernel or the container has no port device
    Lockdown,        // kernel lockdown refuses the device to everyone, root included
    NoRawIo,         // running as root, but without the CAP_SYS_RAWIO capability
    NoHelper,        // the device is not ours to open, and no port helper is installed
    HelperNotSetUp,  // the helper is there, but its group "quillmor" is not
    NotInGroup,      // the user is not a member of that group
    GroupNotActive,  // a member, but not yet in this session: log out and in again
    HelperFailed,    // a member, and the helper still did not hand the device over
    Other,
};

struct PortTrouble {
    PortObstacle obstacle = PortObstacle::None;
    std::string device;
    // The lockdown mode, or the system's words for an Other error.
    std::string detail;
};

// What the program found out about the port device and the helper when the device did not
// open; the facts are gathered apart from the judgement so that every case can be tried.
struct PortAccessFacts {
    std::string device;
    int error = 0;         // the errno of the program's own open
    std::string lockdown;  // the active lockdown mode, empty when none
    bool runningAsRoot = false;
    bool helperInstalled = false;
    bool groupExists = false;
    bool listedInGroup = false;  // the group file names the user (or it is the user's own)
    bool groupActive = false;    // this process has the group
};

PortTrouble judgePortAccess(const PortAccessFacts& facts);

}  // namespace platform
