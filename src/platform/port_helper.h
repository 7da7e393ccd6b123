#pragma once

#include <string>

namespace platform {

// Where the package installs the port helper, and the script that gives it (or takes away) its
// group and capability.
inline constexpr char kInstalledPortHelper[] = "/usr/lib/quillmor/quillmor-port-helper";
inline constexpr char kPortHelperSetup[] = "/usr/lib/quillmor/quillmor-port-setup";

// Runs the port helper and takes the kernel's port device from it: the helper gets one end of
// a fresh socket pair as its standard input and sends the open descriptor back (SCM_RIGHTS).
// The descriptor (close-on-exec), or -1 when the helper could not be started, refused or
// failed; the helper says why on the standard error both share.
int openThroughPortHelper(const std::string& helper);

// What the driver window's install or remove did to the helper's installation: one line for
// its process log saying what was done or why not.
struct PortHelperSetup {
    bool done = false;
    std::string line;
};

// Runs the setup script with "install" or "remove": directly when running as root, else through
// pkexec, which asks for an administrator's password.
PortHelperSetup setUpPortHelper(bool install);

}  // namespace platform
