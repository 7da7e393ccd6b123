#pragma once

#include <string>
#include <string_view>

namespace platform {

// The "SystemRoot" folders of both Windows families, as the installation window reads them from
// the registry. An empty root means that family is not the one running.
struct WindowsRoots {
    std::string win9x;
    std::string nt;
};

// On Linux neither family runs unless a root is configured: QUILLMOR_9X_ROOT and
// QUILLMOR_NT_ROOT name a folder that stands for the system root (an unset or empty variable is
// an empty root). Read anew on each call, as the registry is.
WindowsRoots windowsRootsFromEnvironment();

// Files named the Windows way, as the installation window joins them: backslashes separate the
// folders, a leading one starts at the root of the file system, anything else is taken against
// the current directory, and letters match whatever case the file system holds them in (the
// driver file is tested as "ZEVADO.SYS" but copied as "Zevado.sys").
std::string nativePath(std::string_view windowsPath);

// A regular file is there; a folder of that name is no file.
bool windowsFileExists(std::string_view path);

// Copies a regular file over the target, replacing a file that is there. The copy is written
// beside the target and put in its place only when complete, so a failed copy (no source, no
// target folder, no room, no access) leaves no partial driver file that would later pass for
// an installed one. False when it failed.
bool copyWindowsFile(std::string_view from, std::string_view to);

// Deletes a regular file; false when there was none or it could not be deleted.
bool deleteWindowsFile(std::string_view path);

}  // namespace platform
