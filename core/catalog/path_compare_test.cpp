#include "catalog/path_compare.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

TEST(NormalizePath, CollapsesSeparatorsDotsAndTrailingSlashes) {
    EXPECT_EQ(normalizePath("/a//b/./c/../d///"), std::filesystem::path("/a/b/d"));
    EXPECT_EQ(normalizePath("/a/b\\"), std::filesystem::path("/a/b"));
    EXPECT_EQ(normalizePath("/"), std::filesystem::path("/"));
    EXPECT_EQ(normalizePath("/../.."), std::filesystem::path("/"));
}

TEST(NormalizePath, ResolvesARelativePathAgainstTheCurrentFolder) {
    EXPECT_EQ(normalizePath("x/../y"), normalizePath(std::filesystem::current_path() / "y"));
}

TEST(SamePath, IgnoresOnlyAsciiLetterCase) {
    EXPECT_TRUE(samePath("/Games/Client/", "/games//client"));
    EXPECT_TRUE(samePath("/games/a/../b", "/GAMES/B"));
    EXPECT_FALSE(samePath("/games/\xC3\x89", "/games/\xC3\xA9"));
    EXPECT_FALSE(samePath("/games/a", "/games/ab"));
}

TEST(AncestorPath, NeedsASeparatorAfterThePrefix) {
    EXPECT_TRUE(isAncestorPath("/games", "/Games/client"));
    EXPECT_TRUE(isAncestorPath("/games/x/..", "/games/client/"));
    EXPECT_FALSE(isAncestorPath("/games/cli", "/games/client"));
    EXPECT_FALSE(isAncestorPath("/games/client", "/games/client"));
    EXPECT_FALSE(isAncestorPath("/games/client/sub", "/games/client"));
}

TEST(RootPath, OnlyTheRootHasNothingAfterIt) {
    EXPECT_TRUE(isRootPath("/"));
    EXPECT_TRUE(isRootPath("//"));
    EXPECT_TRUE(isRootPath("/tmp/.."));
    EXPECT_FALSE(isRootPath("/tmp"));
}

}  // namespace
}  // namespace mendly
