#include "platform/driver_places.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// The entry of the folder that the name means: the exact one if it is there, else the first
// that differs only in case, else the name as given (for a file yet to be made).
fs::path entryOf(const fs::path& folder, const std::string& name) {
    std::error_code error;
    const fs::path exact = folder / name;
    if (fs::exists(fs::symlink_status(exact, error))) return exact;
    const fs::path scanned = folder.empty() ? fs::path(".") : folder;
    for (fs::directory_iterator it(scanned, error), end; !error && it != end; it.increment(error)) {
        const std::string entry = it->path().filename().string();
        if (sameIgnoringCase(entry, name)) return folder / entry;
    }
    return exact;
}

bool isRegularFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

}  // namespace

WindowsRoots windowsRootsFromEnvironment() {
    return {environmentValue("QUILLMOR_9X_ROOT"), environmentValue("QUILLMOR_NT_ROOT")};
}

std::string nativePath(std::string_view windowsPath) {
    std::string slashed(windowsPath);
    for (char& c : slashed)
        if (c == '\\') c = '/';
    fs::path resolved = !slashed.empty() && slashed.front() == '/' ? fs::path("/") : fs::path();
    size_t start = 0;
    while (start <= slashed.size()) {
        size_t end = slashed.find('/', start);
        if (end == std::string::npos) end = slashed.size();
        const std::string name = slashed.substr(start, end - start);
        if (name == "." || name == "..")
            resolved /= name;
        else if (!name.empty())
            resolved = entryOf(resolved, name);
        start = end + 1;
    }
    return resolved.string();
}

bool windowsFileExists(std::string_view path) {
    return isRegularFile(nativePath(path));
}

bool copyWindowsFile(std::string_view from, std::string_view to) {
    const fs::path source = nativePath(from);
    const fs::path target = nativePath(to);
    if (!isRegularFile(source)) return false;
    fs::path partial = target;
    partial += ".copying";
    std::error_code error;
    fs::copy_file(source, partial, fs::copy_options::overwrite_existing, error);
    if (!error) fs::rename(partial, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        return false;
    }
    return true;
}

bool deleteWindowsFile(std::string_view path) {
    const fs::path file = nativePath(path);
    std::error_code error;
    return isRegularFile(file) && fs::remove(file, error) && !error;
}

}  // namespace platform
