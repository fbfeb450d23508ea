#include "static_root.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace patch_host {
namespace {

namespace fs = std::filesystem;
using mendly::test::TempDir;
using mendly::test::writeFile;

class StaticRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(outside / "secret.txt", "not for download");
        writeFile(outside / "root" / "retail" / "_version._", "1.0");
        writeFile(outside / "root" / "retail.manifest", "{}");
        fs::create_directories(outside / "root" / "retail" / "empty");
        ASSERT_TRUE(root.open(outside / "root"));
    }

    TempDir outside;
    StaticRoot root;
};

TEST_F(StaticRootTest, FilesBelowTheRootResolve) {
    EXPECT_EQ(root.resolve("/retail/_version._"), fs::canonical(outside / "root" / "retail" / "_version._"));
    EXPECT_EQ(root.resolve("/retail.manifest"), fs::canonical(outside / "root" / "retail.manifest"));
    EXPECT_EQ(root.resolve("//retail/./_version._"), fs::canonical(outside / "root" / "retail" / "_version._"));
}

TEST_F(StaticRootTest, FoldersAndMissingFilesDoNot) {
    EXPECT_FALSE(root.resolve("/"));
    EXPECT_FALSE(root.resolve("/retail"));
    EXPECT_FALSE(root.resolve("/retail/empty/"));
    EXPECT_FALSE(root.resolve("/retail/none.txt"));
}

TEST_F(StaticRootTest, ClimbingOutIsRefusedEvenWhenItWouldComeBack) {
    EXPECT_FALSE(root.resolve("/../secret.txt"));
    EXPECT_FALSE(root.resolve("/retail/../../secret.txt"));
    EXPECT_FALSE(root.resolve("/retail/../retail.manifest"));
}

TEST_F(StaticRootTest, SymbolicLinksLeadingOutAreRefusedAndInsideAreServed) {
    fs::create_symlink(outside / "secret.txt", outside / "root" / "escape.txt");
    fs::create_symlink(outside.path(), outside / "root" / "up");
    fs::create_symlink(outside / "root" / "retail.manifest", outside / "root" / "alias.manifest");
    EXPECT_FALSE(root.resolve("/escape.txt"));
    EXPECT_FALSE(root.resolve("/up/secret.txt"));
    EXPECT_EQ(root.resolve("/alias.manifest"), fs::canonical(outside / "root" / "retail.manifest"));
}

TEST_F(StaticRootTest, NulBytesAreRefused) {
    EXPECT_FALSE(root.resolve(std::string_view("/retail.manifest\0.txt", 21)));
}

TEST(StaticRootOpenTest, OnlyAnExistingFolderOpens) {
    TempDir dir;
    writeFile(dir / "file", "x");
    StaticRoot root;
    EXPECT_FALSE(root.open(dir / "file"));
    EXPECT_FALSE(root.open(dir / "missing"));
    EXPECT_TRUE(root.open(dir.path()));
}

}  // namespace
}  // namespace patch_host
