// The Windows services of keelswap, run on Windows (or Wine).
#include "os.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace mendly::keelswap::os {
namespace {

namespace fs = std::filesystem;

class Folder {
public:
    Folder() {
        std::random_device seed;
        path_ = fs::temp_directory_path() / ("keelswap-win-" + std::to_string(seed()));
        fs::create_directories(path_);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(KeelswapWindows, OwnPathIsThisTestProgram) {
    const fs::path own = ownExecutablePath();
    EXPECT_TRUE(own.is_absolute()) << own;
    EXPECT_EQ(own.filename(), "keelswap_tests.exe");
    EXPECT_EQ(currentProcessId(), ::GetCurrentProcessId());
}

TEST(KeelswapWindows, SameFileIgnoresLetterCaseAndKnowsOtherSpellings) {
    Folder folder;
    write(folder / "Keelswap.exe", "x");
    write(folder / "other.exe", "x");
    EXPECT_TRUE(isSameFile(folder / "Keelswap.exe", folder / "KEELSWAP.EXE"));
    EXPECT_TRUE(isSameFile(folder / "Keelswap.exe", (folder.path() / "sub" / ".." / "keelswap.exe").string()));
    EXPECT_FALSE(isSameFile(folder / "Keelswap.exe", folder / "other.exe"));
    EXPECT_FALSE(isSameFile(folder / "missing.exe", folder / "other.exe"));
}

TEST(KeelswapWindows, ReplacingWithACopyOverwritesAndLeavesNothingBeside) {
    Folder folder;
    write(folder / "target.dll", "old contents");
    write(folder / "staged.dll", "new contents");
    ASSERT_TRUE(replaceWithCopy(folder / "staged.dll", folder / "target.dll"));
    EXPECT_EQ(read(folder / "target.dll"), "new contents");
    EXPECT_EQ(read(folder / "staged.dll"), "new contents");
    EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"staged.dll", "target.dll"}));
    // A missing source and a folder as source fail without touching the target.
    EXPECT_FALSE(replaceWithCopy(folder / "missing.dll", folder / "target.dll"));
    EXPECT_FALSE(replaceWithCopy(folder.path().string(), folder / "target.dll"));
    EXPECT_EQ(read(folder / "target.dll"), "new contents");
}

TEST(KeelswapWindows, ATargetHeldOpenIsLeftWholeAndNoCopyStaysBehind) {
    Folder folder;
    write(folder / "target.exe", "running program");
    write(folder / "staged.exe", "new program");
    {
        // As a running program holds its file: no sharing of write or delete.
        const HANDLE held = ::CreateFileW((folder.path() / "target.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(replaceWithCopy(folder / "staged.exe", folder / "target.exe"));
        ::CloseHandle(held);
    }
    EXPECT_EQ(read(folder / "target.exe"), "running program");
    EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"staged.exe", "target.exe"}));
    // Once it is let go, the next attempt succeeds.
    EXPECT_TRUE(replaceWithCopy(folder / "staged.exe", folder / "target.exe"));
    EXPECT_EQ(read(folder / "target.exe"), "new program");
}

TEST(KeelswapWindows, WaitingForProcesses) {
    // No process has identifier 0 to open; an identifier of a process that
    // is gone cannot be opened either.
    EXPECT_EQ(waitForProcessExit(0, std::chrono::milliseconds(10)), ProcessWait::NotOpened);
    EXPECT_EQ(waitForProcessExit(0xFFFFFFF0u, std::chrono::milliseconds(10)), ProcessWait::NotOpened);
    // This process is running: the wait runs out.
    EXPECT_EQ(waitForProcessExit(currentProcessId(), std::chrono::milliseconds(50)), ProcessWait::TimedOut);
}

TEST(KeelswapWindows, StartingAMissingProgramFails) {
    Folder folder;
    EXPECT_FALSE(spawnDetached({folder / "missing.exe", "--x"}));
    EXPECT_FALSE(spawnDetached({}));
    EXPECT_FALSE(replaceProcess({folder / "missing.exe"}));
}

TEST(KeelswapWindows, RemovingATreeTakesEverythingAndAMissingOneIsNoError) {
    Folder folder;
    fs::create_directories(folder.path() / "tree" / "deep");
    write(folder / "tree/deep/file.bin", "x");
    EXPECT_TRUE(removeTree(folder / "tree"));
    EXPECT_FALSE(fs::exists(folder.path() / "tree"));
    EXPECT_TRUE(removeTree(folder / "tree"));
}

}  // namespace
}  // namespace mendly::keelswap::os
