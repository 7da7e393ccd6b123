#include "platform/driver_places.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class DriverPlaces : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quillmor-places-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "WIN" / "system32");
    }
    void TearDown() override { fs::remove_all(root_); }

    // The folder as the registry would name it, followed by a Windows-style tail.
    std::string windows(const std::string& tail) const { return root_.string() + tail; }

    static void write(const fs::path& path, const std::string& contents) {
        std::ofstream(path, std::ios::binary) << contents;
    }
    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream contents;
        contents << in.rdbuf();
        return contents.str();
    }

    fs::path root_;
};

TEST_F(DriverPlaces, BackslashesSeparateFoldersAndCaseOfExistingEntriesIsFollowed) {
    write(root_ / "WIN" / "system32" / "Zevado.sys", "nt");
    EXPECT_EQ(platform::nativePath(windows("\\win\\SYSTEM32\\ZEVADO.SYS")),
              (root_ / "WIN" / "system32" / "Zevado.sys").string());
    EXPECT_TRUE(platform::windowsFileExists(windows("\\win\\SYSTEM32\\ZEVADO.SYS")));
}

TEST_F(DriverPlaces, NameNotYetThereIsKeptAsWritten) {
    EXPECT_EQ(platform::nativePath(windows("\\WIN\\SYSTEM32\\Zevado.sys")),
              (root_ / "WIN" / "system32" / "Zevado.sys").string());
}

TEST_F(DriverPlaces, FolderIsNoFileForTheExistenceTest) {
    EXPECT_FALSE(platform::windowsFileExists(windows("\\WIN\\SYSTEM32")));
    EXPECT_FALSE(platform::windowsFileExists(windows("\\WIN\\SYSTEM32\\Zevado.sys")));
}

TEST_F(DriverPlaces, CopyReplacesAFileThatDiffersOnlyInCase) {
    write(root_ / "source.sys", "new driver");
    write(root_ / "WIN" / "system32" / "ZEVADO.SYS", "old driver");
    ASSERT_TRUE(
        platform::copyWindowsFile(windows("\\source.sys"), windows("\\WIN\\SYSTEM32\\Zevado.sys")));
    EXPECT_EQ(read(root_ / "WIN" / "system32" / "ZEVADO.SYS"), "new driver");
    EXPECT_FALSE(fs::exists(root_ / "WIN" / "system32" / "Zevado.sys"));
}

TEST_F(DriverPlaces, RefusedCopiesLeaveNothingBehind) {
    write(root_ / "source.sys", "driver");
    EXPECT_FALSE(platform::copyWindowsFile(windows("\\missing.sys"),
                                           windows("\\WIN\\SYSTEM32\\Zevado.sys")));
    EXPECT_FALSE(platform::copyWindowsFile(windows("\\source.sys"),
                                           windows("\\NOWIN\\SYSTEM32\\Zevado.sys")));
    fs::create_directory(root_ / "WIN" / "system32" / "Zevado.sys");
    EXPECT_FALSE(
        platform::copyWindowsFile(windows("\\source.sys"), windows("\\WIN\\SYSTEM32\\Zevado.sys")));
    EXPECT_TRUE(fs::is_directory(root_ / "WIN" / "system32" / "Zevado.sys"));
    EXPECT_EQ(
        std::distance(fs::directory_iterator(root_ / "WIN" / "system32"), fs::directory_iterator()),
        1);
}

TEST_F(DriverPlaces, DeleteTakesOnlyAnExistingFile) {
    write(root_ / "WIN" / "system32" / "Zevado.sys", "nt");
    EXPECT_TRUE(platform::deleteWindowsFile(windows("\\WIN\\SYSTEM32\\ZEVADO.SYS")));
    EXPECT_FALSE(fs::exists(root_ / "WIN" / "system32" / "Zevado.sys"));
    EXPECT_FALSE(platform::deleteWindowsFile(windows("\\WIN\\SYSTEM32\\ZEVADO.SYS")));
    EXPECT_FALSE(platform::deleteWindowsFile(windows("\\WIN\\SYSTEM32")));
    EXPECT_TRUE(fs::is_directory(root_ / "WIN" / "system32"));
}

TEST(DriverRoots, EachFamilyHasItsOwnVariableAndUnsetIsEmpty) {
    ::setenv("QUILLMOR_9X_ROOT", "/srv/win98", 1);
    ::unsetenv("QUILLMOR_NT_ROOT");
    platform::WindowsRoots roots = platform::windowsRootsFromEnvironment();
    EXPECT_EQ(roots.win9x, "/srv/win98");
    EXPECT_EQ(roots.nt, "");

    ::unsetenv("QUILLMOR_9X_ROOT");
    ::setenv("QUILLMOR_NT_ROOT", "/srv/winnt", 1);
    roots = platform::windowsRootsFromEnvironment();
    EXPECT_EQ(roots.win9x, "");
    EXPECT_EQ(roots.nt, "/srv/winnt");
    ::unsetenv("QUILLMOR_NT_ROOT");
}

}  // namespace
