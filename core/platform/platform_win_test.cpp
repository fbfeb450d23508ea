// The Windows platform files, run on Windows (or Wine).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/disk.h"
#include "platform/file.h"
#include "platform/file_output.h"
#include "platform/log_output.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using platform::FileWrite;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void setReadOnly(const fs::path& path, bool readOnly) {
    ::SetFileAttributesW(path.c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

class WindowsFiles : public ::testing::Test {
protected:
    test::TempDir dir{"platform-win"};
};

TEST_F(WindowsFiles, ReplacingAFileLeavesOnlyTheNewContents) {
    EXPECT_EQ(platform::replaceWholeFile(dir / "new.json", "first"), FileWrite::Written);
    EXPECT_EQ(platform::replaceWholeFile(dir / "new.json", "second, longer"), FileWrite::Written);
    EXPECT_EQ(test::readFile(dir / "new.json"), "second, longer");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"new.json"});
}

TEST_F(WindowsFiles, AReadOnlyFileAFolderOrAMissingFolderIsNotWritten) {
    test::writeFile(dir / "locked.json", "kept");
    setReadOnly(dir / "locked.json", true);
    EXPECT_EQ(platform::replaceWholeFile(dir / "locked.json", "new"), FileWrite::CannotWrite);
    setReadOnly(dir / "locked.json", false);
    EXPECT_EQ(test::readFile(dir / "locked.json"), "kept");

    fs::create_directory(dir / "folder.json");
    EXPECT_EQ(platform::replaceWholeFile(dir / "folder.json", "new"), FileWrite::CannotWrite);
    EXPECT_EQ(platform::replaceWholeFile(dir / "missing" / "x.json", "new"), FileWrite::CannotWrite);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"folder.json", "locked.json"}));
}

TEST_F(WindowsFiles, AFileOutputReplacesAStaleFileAndCopiesRangesOfOthers) {
    test::writeFile(dir / "source.bin", "0123456789");
    test::writeFile(dir / "out.bin", "stale contents that must go");
    platform::FileOutput out;
    ASSERT_TRUE(out.create(dir / "out.bin"));
    ASSERT_TRUE(out.write("<"));
    ASSERT_TRUE(out.appendFrom(dir / "source.bin", 2, 3));
    ASSERT_TRUE(out.appendFrom(dir / "source.bin", 8, 2));
    ASSERT_TRUE(out.write(">"));
    ASSERT_TRUE(out.close());
    EXPECT_EQ(test::readFile(dir / "out.bin"), "<23489>");

    platform::FileOutput shortSource;
    ASSERT_TRUE(shortSource.create(dir / "short.bin"));
    EXPECT_FALSE(shortSource.appendFrom(dir / "source.bin", 8, 5)) << "beyond the end of the source";
    EXPECT_FALSE(shortSource.appendFrom(dir / "missing.bin", 0, 1));
    EXPECT_TRUE(shortSource.close());

    platform::FileOutput refused;
    fs::create_directory(dir / "folder");
    EXPECT_FALSE(refused.create(dir / "folder"));
    EXPECT_FALSE(refused.write("x"));
    EXPECT_FALSE(refused.appendFrom(dir / "source.bin", 0, 1));
}

TEST_F(WindowsFiles, TwoLogOutputsOnOneFileAppendWholeLinesAfterOneEmptiedIt) {
    test::writeFile(dir / "launcher.log", "an earlier run\n");
    platform::LogOutput first;
    platform::LogOutput second;
    ASSERT_TRUE(first.open(dir / "launcher.log"));
    EXPECT_TRUE(first.append("one\n"));
    ASSERT_TRUE(second.open(dir / "launcher.log"));  // the second program empties it again
    EXPECT_TRUE(second.append("two\n"));
    EXPECT_TRUE(first.append("three\n"));
    EXPECT_TRUE(second.append("four\n"));
    first.close();
    EXPECT_FALSE(first.append("closed\n"));
    second.close();
    EXPECT_EQ(test::readFile(dir / "launcher.log"), "two\nthree\nfour\n");
}

TEST_F(WindowsFiles, MovingReplacesTheTargetAndAFailedMoveLeavesItAlone) {
    test::writeFile(dir / "staged", "new");
    test::writeFile(dir / "target", "old");
    ASSERT_TRUE(platform::replaceFile(dir / "staged", dir / "target"));
    EXPECT_EQ(test::readFile(dir / "target"), "new");
    EXPECT_FALSE(fs::exists(dir / "staged"));
    EXPECT_FALSE(platform::replaceFile(dir / "staged", dir / "target"));
    EXPECT_EQ(test::readFile(dir / "target"), "new");
}

TEST(WindowsProcess, KnowsItsOwnProgramArgumentsAndDisk) {
    const fs::path exe = platform::executablePath();
    EXPECT_TRUE(exe.is_absolute()) << exe;
    EXPECT_EQ(exe.filename(), "platform_tests.exe");
    EXPECT_TRUE(platform::isExecutableFile(exe));
    EXPECT_FALSE(platform::isExecutableFile(exe.parent_path()));
    const auto args = platform::processArguments();
    ASSERT_FALSE(args.empty());
    EXPECT_NE(args[0].find("platform_tests"), std::string::npos) << args[0];
    EXPECT_EQ(platform::currentProcessId(), ::GetCurrentProcessId());
    EXPECT_FALSE(platform::isDebuggerAttached());

    const auto free = platform::freeDiskSpace(fs::temp_directory_path());
    ASSERT_TRUE(free.has_value());
    EXPECT_GT(*free, 0u);
    EXPECT_FALSE(platform::freeDiskSpace("Q:\\no\\such\\volume").has_value());
}

}  // namespace
}  // namespace mendly
