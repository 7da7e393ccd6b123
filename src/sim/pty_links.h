#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// The links by which other programs find the simulated PC's pseudo-terminals: "com3" and "com4"
// in a private folder of the user, pointing at /dev/pts/N. They live exactly as long as this
// object: made (a stale link of a copy that died is replaced) when it is created, removed when
// it goes.
//
// A copy of the program holds its set of names by a lock file beside the links, so that a
// second copy running at the same time cannot re-point the first one's links: it takes the
// next free set, "com3-2" and "com4-2" (then "-3", ...). The lock goes with the process,
// however it ends, which is how a set whose owner died is known to be free.
//
// Each port's /dev/pts path is printed on the given stream in any case, with its link where
// there is one, so the ports can be reached even when the folder is missing or not private.
class PtyLinks {
public:
    // ports: the COM number and the pty path of each port to publish.
    PtyLinks(std::string folder, const std::vector<std::pair<int, std::string>>& ports,
             FILE* report);
    ~PtyLinks();
    PtyLinks(const PtyLinks&) = delete;
    PtyLinks& operator=(const PtyLinks&) = delete;

    // The links made, as full paths (empty when none could be made).
    const std::vector<std::string>& links() const { return links_; }

private:
    bool claimNames(int set);
    void unlinkOwn();

    std::string folder_;
    std::string lockPath_;
    int lockFd_ = -1;
    std::vector<std::string> links_;
    std::vector<std::string> targets_;
};

}  // namespace sim
