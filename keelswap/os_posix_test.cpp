#include "os.h"

#include "child_process_testing.h"
#include "temp_folder_testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mendly::keelswap {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::readBytes;
using testing::TempFolder;
using testing::writeBytes;

std::vector<std::string> folderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class FileReplacement : public ::testing::Test {
protected:
    TempFolder folder;
};

TEST_F(FileReplacement, ReplacesARunningExecutableThatCannotBeWrittenInPlace) {
    const auto program = folder / "prog";
    fs::copy_file("/bin/sleep", program);
    ChildProcess running({program, "30"});
    ASSERT_TRUE(running.started());

    const int inPlace = ::open(program.c_str(), O_WRONLY);
    const int inPlaceError = errno;
    if (inPlace >= 0) ::close(inPlace);
    ASSERT_LT(inPlace, 0);
    ASSERT_EQ(inPlaceError, ETXTBSY);

    writeBytes(folder / "staged", "new program bytes");
    EXPECT_TRUE(os::replaceWithCopy(folder / "staged", program));
    EXPECT_EQ(readBytes(program), "new program bytes");
    EXPECT_FALSE(running.hasEnded());
    EXPECT_EQ(folderEntries(folder.path()), (std::vector<std::string>{"prog", "staged"}));
}

TEST_F(FileReplacement, CreatesAMissingTargetAndTakesTheSourcePermissions) {
    writeBytes(folder / "staged", "#!/bin/sh\n");
    fs::permissions(folder / "staged", fs::perms(0750));
    ASSERT_TRUE(os::replaceWithCopy(folder / "staged", folder / "target"));
    EXPECT_EQ(readBytes(folder / "target"), "#!/bin/sh\n");
    EXPECT_EQ(fs::status(folder / "target").permissions(), fs::perms(0750));
}

TEST_F(FileReplacement, CopiesLargeFilesCompletely) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) % 251);
    writeBytes(folder / "staged", big);
    writeBytes(folder / "target", "old");
    ASSERT_TRUE(os::replaceWithCopy(folder / "staged", folder / "target"));
    EXPECT_EQ(readBytes(folder / "target"), big);
}

TEST_F(FileReplacement, FailsWithoutATraceWhenAFolderOccupiesTheTarget) {
    writeBytes(folder / "staged", "x");
    fs::create_directories(folder / "target/inner");
    EXPECT_FALSE(os::replaceWithCopy(folder / "staged", folder / "target"));
    EXPECT_TRUE(fs::is_directory(folder / "target/inner"));
    EXPECT_EQ(folderEntries(folder.path()), (std::vector<std::string>{"staged", "target"}));
}

TEST_F(FileReplacement, FailsWhenTheSourceIsMissingOrAFolder) {
    writeBytes(folder / "target", "old");
    EXPECT_FALSE(os::replaceWithCopy(folder / "missing", folder / "target"));
    fs::create_directory(folder / "dir");
    EXPECT_FALSE(os::replaceWithCopy(folder / "dir", folder / "target"));
    EXPECT_EQ(readBytes(folder / "target"), "old");
    EXPECT_EQ(folderEntries(folder.path()), (std::vector<std::string>{"dir", "target"}));
}

TEST_F(FileReplacement, ReplacesTheFileThatALinkNames) {
    writeBytes(folder / "real", "old");
    fs::create_symlink("real", folder / "link");
    writeBytes(folder / "staged", "new");
    ASSERT_TRUE(os::replaceWithCopy(folder / "staged", folder / "link"));
    EXPECT_TRUE(fs::is_symlink(folder / "link"));
    EXPECT_EQ(readBytes(folder / "real"), "new");
}

TEST(ProcessWaiting, AProcessThatHasEndedCannotBeOpened) {
    pid_t gone = 0;
    {
        ChildProcess quick({"true"});
        ASSERT_EQ(quick.waitForExit(std::chrono::seconds(10)), 0);
        gone = quick.pid();
    }
    EXPECT_EQ(os::waitForProcessExit(static_cast<std::uint32_t>(gone), std::chrono::seconds(5)),
              os::ProcessWait::NotOpened);
    EXPECT_EQ(os::waitForProcessExit(4294967295u, std::chrono::seconds(5)), os::ProcessWait::NotOpened);
}

}  // namespace
}  // namespace mendly::keelswap
