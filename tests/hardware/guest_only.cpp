// The programs of the hardware test bed open /dev/port and /dev/ttyS1: on this machine that
// would be its own hardware. They run only in the guest that scripts/test-hardware boots, which
// it recognises by its kernel command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class GuestOnly : public ::testing::Environment {
public:
    void SetUp() override {
        std::ifstream file("/proc/cmdline");
        const std::string cmdline((std::istreambuf_iterator<char>(file)), {});
        if (cmdline.find("quillmor.suite=") != std::string::npos) return;
        std::fprintf(stderr,
                     "these tests run only in the guest machine of scripts/test-hardware\n");
        std::exit(2);
    }
};

[[maybe_unused]] ::testing::Environment* const guestOnly =
    ::testing::AddGlobalTestEnvironment(new GuestOnly);

}  // namespace
