#include "patch/manifest_path_check.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

class ManifestPathCheckTest : public ::testing::Test {};

TEST_F(ManifestPathCheckTest, OrdinaryClientPathsPass) {
    for (const char* path : {"Kaltris.exe", "ini\\hash.ini", "worlds", "worlds/Foo.DAT", "worlds/sub/pak_x.dat", "1:x",
                             "...", "a/...b"})
        EXPECT_EQ(manifestPathProblem(path), "") << path;
}

TEST_F(ManifestPathCheckTest, EscapesFromTheInstallationFolderAreRefused) {
    for (const char* path : {"..", "../x", "..\\x", "a/../../x", "./../x", "a/b/../../../x", "worlds/../../x"})
        EXPECT_EQ(manifestPathProblem(path), "climbs out of the installation folder") << path;
}

TEST_F(ManifestPathCheckTest, RootedPathsAreRefused) {
    EXPECT_EQ(manifestPathProblem("/x"), "is an absolute path");
    EXPECT_EQ(manifestPathProblem("\\x"), "is an absolute path");
    EXPECT_EQ(manifestPathProblem("z:x"), "names a drive");
    EXPECT_EQ(manifestPathProblem("D:/x"), "names a drive");
}

TEST_F(ManifestPathCheckTest, NulAnywhereIsRefusedFirst) {
    EXPECT_EQ(manifestPathProblem(std::string_view("a\0b", 3)), "contains a NUL character");
    EXPECT_EQ(manifestPathProblem(std::string_view("../\0", 4)), "contains a NUL character");
}

TEST_F(ManifestPathCheckTest, PathsWithoutAFileNameAreRefused) {
    for (const char* path : {"", ".", "./", "a/", "a\\", "a/.", "a/..", "worlds/", "worlds/x/"})
        EXPECT_EQ(manifestPathProblem(path), "does not name a file") << path;
}

TEST_F(ManifestPathCheckTest, ArchiveMembersStayInsideTheirArchive) {
    EXPECT_EQ(manifestPathProblem("worlds/../x"), "climbs out of the archive worlds.pak");
    EXPECT_EQ(manifestPathProblem("GFX\\a\\..\\..\\x"), "climbs out of the archive gfx.pak");
    EXPECT_EQ(manifestPathProblem("sound/pak_"), "names no member of the archive sound.pak");
    EXPECT_EQ(manifestPathProblem("sound/sub/PAK_"), "names no member of the archive sound.pak");
    // A loose file outside the archive folders may use the same names freely.
    EXPECT_EQ(manifestPathProblem("data/pak_"), "");
}

TEST(ManifestPathCheck, OneFileHasOneSpelling) {
    const std::pair<const char*, const char*> cases[] = {
        {"a//b", "has an empty component (a doubled separator)"},
        {"data\\\\x.bin", "has an empty component (a doubled separator)"},
        {"a/./b", "has a \".\" component"},
        {"./a", "has a \".\" component"},
        {"bin/../x.dll", "has a \"..\" component"},
        {"data/../ini/user.ini", "has a \"..\" component"},
        {"worlds/a/../b", "has a \"..\" component"},
        {"./ini/user.ini", "has a \".\" component"},
    };
    for (const auto& [path, problem] : cases) EXPECT_EQ(manifestPathProblem(path), problem) << path;
}

}  // namespace
}  // namespace mendly
