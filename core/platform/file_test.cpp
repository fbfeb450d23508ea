#include "platform/file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using platform::FileWrite;

class ReplaceWholeFile : public ::testing::Test {
protected:
    test::TempDir dir{"replace-file"};
};

TEST_F(ReplaceWholeFile, ALinkIsFollowedAndStaysALink) {
    test::TempDir shared{"replace-file-shared"};
    test::writeFile(shared / "customlist.json", "old");
    fs::create_symlink(shared / "customlist.json", dir / "customlist.json");
    ASSERT_EQ(platform::replaceWholeFile(dir / "customlist.json", "new"), FileWrite::Written);
    EXPECT_TRUE(fs::is_symlink(dir / "customlist.json"));
    EXPECT_EQ(test::readFile(shared / "customlist.json"), "new");
    EXPECT_EQ(std::distance(fs::directory_iterator(shared.path()), fs::directory_iterator()), 1);  // no temporary left
}

TEST_F(ReplaceWholeFile, AReadOnlyFileOrFolderIsNotReplaced) {
    test::writeFile(dir / "locked.json", "kept");
    fs::permissions(dir / "locked.json", fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(platform::replaceWholeFile(dir / "locked.json", "new"), FileWrite::CannotWrite);
    EXPECT_EQ(test::readFile(dir / "locked.json"), "kept");

    fs::create_directory(dir / "sealed");
    test::writeFile(dir / "sealed" / "file.json", "kept");
    fs::permissions(dir / "sealed", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(platform::replaceWholeFile(dir / "sealed" / "file.json", "new"), FileWrite::CannotWrite);
    fs::permissions(dir / "sealed", fs::perms::owner_all);
    EXPECT_EQ(test::readFile(dir / "sealed" / "file.json"), "kept");
}

TEST_F(ReplaceWholeFile, ReplacesKeepingPermissionsAndCreatesNewFiles) {
    test::writeFile(dir / "mine.json", "old");
    fs::permissions(dir / "mine.json", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(platform::replaceWholeFile(dir / "mine.json", "new"), FileWrite::Written);
    EXPECT_EQ(test::readFile(dir / "mine.json"), "new");
    EXPECT_EQ(fs::status(dir / "mine.json").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(platform::replaceWholeFile(dir / "fresh.json", "fresh"), FileWrite::Written);
    EXPECT_EQ(test::readFile(dir / "fresh.json"), "fresh");
    EXPECT_EQ(platform::replaceWholeFile(dir / "missing" / "x.json", "x"), FileWrite::CannotWrite);
}

TEST(TemporaryName, TwoCallsNeverShareAName) {
    EXPECT_NE(platform::temporaryNameFor("/x/a.json"), platform::temporaryNameFor("/x/a.json"));
    EXPECT_EQ(platform::temporaryNameFor("/x/a.json").parent_path(), fs::path("/x"));
}

}  // namespace
}  // namespace mendly
