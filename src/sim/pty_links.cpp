#include "sim/pty_links.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// Copies beyond this many at once publish no links; their paths are still printed.
constexpr int kNameSets = 32;

// "" for the first set of names, "-2", "-3", ... for the copies that come later.
std::string nameSuffix(int set) {
    return set == 1 ? std::string() : "-" + std::to_string(set);
}

// The folder may sit in /tmp: use it only if it is a real folder of our own, so nobody else
// can plant the links.
bool privateFolder(const std::string& folder, FILE* report) {
    ::mkdir(folder.c_str(), 0700);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        std::fprintf(report, "quillmor: %s cannot be made (%s); pty links not published\n",
                     folder.c_str(), std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 022) == 0) return true;
    std::fprintf(report,
                 "quillmor: %s is not a private folder of this user; pty links not published\n",
                 folder.c_str());
    return false;
}

std::string linkTarget(const std::string& link) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

}  // namespace

PtyLinks::PtyLinks(std::string folder, const std::vector<std::pair<int, std::string>>& ports,
                   FILE* report)
    : folder_(std::move(folder)) {
    int set = 0;
    if (!ports.empty() && privateFolder(folder_, report)) {
        for (int candidate = 1; candidate <= kNameSets && set == 0; ++candidate)
            if (claimNames(candidate)) set = candidate;
        if (set == 0) {
            std::fprintf(report, "quillmor: %d copies hold pty links in %s; none published\n",
                         kNameSets, folder_.c_str());
        } else if (set > 1) {
            std::string names;
            for (const auto& port : ports)
                names += (names.empty() ? "com" : " and com") + std::to_string(port.first) +
                         nameSuffix(set);
            std::fprintf(report,
                         "quillmor: another copy of the program has its pty links in %s; this "
                         "copy's are %s\n",
                         folder_.c_str(), names.c_str());
        }
    }
    for (const auto& [com, path] : ports) {
        std::string link;
        if (set != 0) {
            link = folder_ + "/com" + std::to_string(com) + nameSuffix(set);
            // Left by a copy that died without removing it: the set is ours now.
            ::unlink(link.c_str());
            if (::symlink(path.c_str(), link.c_str()) == 0) {
                links_.push_back(link);
                targets_.push_back(path);
            } else {
                link.clear();
            }
        }
        std::fprintf(report, "quillmor: simulated COM%d is on %s%s%s\n", com, path.c_str(),
                     link.empty() ? "" : ", linked as ", link.c_str());
    }
}

PtyLinks::~PtyLinks() {
    unlinkOwn();
}

// A set of names belongs to the copy that holds the lock on its lock file. The copy before may
// remove that file between this one's open and its lock: a lock on a file that no longer has
// the name is no claim, so the file is opened again.
bool PtyLinks::claimNames(int set) {
    const std::string path = folder_ + "/.links" + nameSuffix(set) + ".lock";
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            lockFd_ = fd;
            lockPath_ = path;
            return true;
        }
        ::close(fd);
    }
}

// Only links that still point where this copy put them go; the lock file goes before the lock,
// so the next copy never takes a set whose links are still being removed.
void PtyLinks::unlinkOwn() {
    for (size_t i = 0; i < links_.size(); ++i)
        if (linkTarget(links_[i]) == targets_[i]) ::unlink(links_[i].c_str());
    if (lockFd_ < 0) return;
    ::unlink(lockPath_.c_str());
    ::close(lockFd_);
}

}  // namespace sim
