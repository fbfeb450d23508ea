#include "platform/file_update.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

class FileUpdateTest : public ::testing::Test {
protected:
    test::TempDir dir{"file-update"};
    fs::path file = dir / "a.pak";
};

TEST_F(FileUpdateTest, OpensOnlyAnExistingRegularFileAndNeverALink) {
    test::writeFile(dir / "target", "someone else's");
    fs::create_symlink(dir / "target", dir / "link");
    fs::create_directory(dir / "folder");
    for (const char* name : {"missing", "link", "folder"}) {
        platform::FileUpdate update;
        EXPECT_FALSE(update.open(dir / name)) << name;
        EXPECT_FALSE(update.writeAt(0, "x")) << name;
    }
    EXPECT_EQ(test::readFile(dir / "target"), "someone else's");

    // create() replaces the link itself, never what it names.
    platform::FileUpdate created;
    ASSERT_TRUE(created.create(dir / "link"));
    ASSERT_TRUE(created.writeAt(0, "mine") && created.close());
    EXPECT_FALSE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(test::readFile(dir / "link"), "mine");
    EXPECT_EQ(test::readFile(dir / "target"), "someone else's");
}

TEST_F(FileUpdateTest, WritesAndReadsAtOffsetsCopiesRangesOfItselfAndTruncates) {
    test::writeFile(file, "0123456789");
    platform::FileUpdate update;
    ASSERT_TRUE(update.open(file));
    ASSERT_TRUE(update.writeAt(12, "ab"));           // past the end: a gap of zero bytes
    ASSERT_TRUE(update.copyFrom(file, 2, 3, 14));    // "234" from this very file
    ASSERT_TRUE(update.writeAt(0, "X"));
    EXPECT_EQ(update.size(), 17u);
    std::string bytes;
    ASSERT_TRUE(update.readAt(9, 8, bytes));
    EXPECT_EQ(bytes, std::string("9\0\0ab234", 8));
    EXPECT_FALSE(update.readAt(15, 3, bytes)) << "the file ends before";
    EXPECT_FALSE(update.copyFrom(file, 16, 5, 20)) << "the source ends before";
    ASSERT_TRUE(update.truncate(4) && update.flush());
    EXPECT_EQ(update.bytesWritten(), 2u + 3u + 1u + 5u);
    ASSERT_TRUE(update.close());
    EXPECT_EQ(test::readFile(file), "X123");
}

TEST_F(FileUpdateTest, TellsWhenTheFileHasOtherNames) {
    test::writeFile(file, "x");
    platform::FileUpdate update;
    ASSERT_TRUE(update.open(file));
    EXPECT_FALSE(update.hasOtherNames());
    fs::create_hard_link(file, dir / "b.pak");
    EXPECT_TRUE(update.hasOtherNames());
}

}  // namespace
}  // namespace mendly
