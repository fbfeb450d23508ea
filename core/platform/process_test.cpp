#include "platform/process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

bool waitForFile(const fs::path& path) {
    for (int i = 0; i < 200; ++i) {
        if (fs::exists(path) && fs::file_size(path) > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A relative program path names the file it names for the caller, not a
// file of that name in the child's working folder.
TEST(SpawnDetached, ARelativeProgramIsTheCallersFileAndRunsInTheWorkingFolder) {
    test::TempDir root{"spawn"};
    const fs::path marker = root / "ran.txt";
    test::writeFile(root / "tool.sh", "#!/bin/sh\necho \"right $PWD $1\" > \"" + marker.string() + "\"\n");
    fs::permissions(root / "tool.sh", fs::perms::owner_all);
    fs::create_directories(root / "work");
    test::writeFile(root / "work" / "tool.sh", "#!/bin/sh\necho wrong > \"" + marker.string() + "\"\n");
    fs::permissions(root / "work" / "tool.sh", fs::perms::owner_all);

    const fs::path before = fs::current_path();
    fs::current_path(root.path());
    const bool started = platform::spawnDetached({"./tool.sh", "arg"}, root / "work");
    fs::current_path(before);
    ASSERT_TRUE(started);
    ASSERT_TRUE(waitForFile(marker));
    EXPECT_EQ(test::readFile(marker), "right " + (root / "work").string() + " arg\n");
}

TEST(SpawnDetached, TheChildGetsOnlyTheStandardStreams) {
    test::TempDir root{"spawn_fds"};
    // A descriptor opened without close-on-exec, as a library might leave one.
    const int leaky = ::open((root / "held.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(leaky, 3);
    const fs::path listing = root / "fds.txt";
    ASSERT_TRUE(platform::spawnDetached(
        {"/bin/sh", "-c", "exec >'" + listing.string() + ".part'; ls /proc/$$/fd; mv '" + listing.string() + ".part' '" +
                              listing.string() + "'"},
        root.path()));
    ASSERT_TRUE(waitForFile(listing));
    ::close(leaky);
    EXPECT_EQ(test::readFile(listing), "0\n1\n2\n");
}

TEST(EnsureStandardStreams, AClosedStreamGetsTheNullDeviceNotTheNextFile) {
    test::TempDir root{"std_streams"};
    const int saved = ::dup(1);
    ::close(1);
    platform::ensureStandardStreams();
    const int next = ::open((root / "log.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    char target[256] = {};
    const ssize_t n = ::readlink("/proc/self/fd/1", target, sizeof target - 1);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(next);
    EXPECT_NE(next, 1);
    EXPECT_EQ(std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0), "/dev/null");
}

TEST(SpawnDetached, AMissingProgramOrFolderIsAFailure) {
    test::TempDir root{"spawn_missing"};
    EXPECT_FALSE(platform::spawnDetached({(root / "absent").string()}, root.path()));
    EXPECT_FALSE(platform::spawnDetached({"/bin/true"}, root / "no-such-folder"));
    EXPECT_FALSE(platform::spawnDetached({}, root.path()));
}

}  // namespace
}  // namespace mendly
