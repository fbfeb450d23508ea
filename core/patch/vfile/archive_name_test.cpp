#include "patch/vfile/archive_name.h"

#include <gtest/gtest.h>

namespace mendly::vfile {
namespace {

struct NormalizeCase {
    const char* input;
    const char* expected;
};

class NormalizeArchiveName : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizeArchiveName, GivesTheCanonicalForm) {
    EXPECT_EQ(normalizeArchiveName(GetParam().input), GetParam().expected) << "input: " << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(
    Names, NormalizeArchiveName,
    ::testing::Values(NormalizeCase{"a//b", "a\\b"}, NormalizeCase{"./a", "a"}, NormalizeCase{"a/./b", "a\\b"},
                      NormalizeCase{"x/y/../z", "x\\z"}, NormalizeCase{"a/../b", "a\\..\\b"},
                      NormalizeCase{"", "."}, NormalizeCase{"///lead\\\\x", "lead\\x"},
                      NormalizeCase{"a/./././b", "a\\b"}, NormalizeCase{"a/b/../../c", "a\\..\\c"},
                      NormalizeCase{"w/x/y/../../z", "w\\z"}, NormalizeCase{"../x", "..\\x"},
                      NormalizeCase{"./", "."}, NormalizeCase{"/", "."}, NormalizeCase{"x/y/..", "x\\y\\.."},
                      NormalizeCase{"Foo/Bar.DAT", "Foo\\Bar.DAT"}, NormalizeCase{"././a", "a"},
                      NormalizeCase{".\\.\\", "."}, NormalizeCase{"a/.", "a\\."}));

TEST(NormalizeArchiveNameProperty, NormalisingTwiceChangesNothing) {
    for (const char* name : {"a//b", "./a", "x/y/../z", "a/../b", "", "../x", "x/y/..", "./.././a/./../b",
                             "a\\b\\c\\..\\..\\..\\..\\d", ".\\..\\x\\.\\y", "\\\\.\\"}) {
        const std::string once = normalizeArchiveName(name);
        EXPECT_EQ(normalizeArchiveName(once), once) << "input: " << name;
    }
}

TEST(ArchiveKey, LowersOnlyAsciiCapitals) {
    EXPECT_EQ(archiveKey("Foo\\BAR.Dat"), "foo\\bar.dat");
    // '@' and '[' sit just outside 'A'..'Z'; UTF-8 capitals stay as they are.
    EXPECT_EQ(archiveKey("@[\xC3\x84Z"), "@[\xC3\x84z");
}

TEST(ArchiveKeyLess, ComparesUnsignedBytesWithPrefixesFirst) {
    EXPECT_TRUE(archiveKeyLess("ab", "abc"));
    EXPECT_FALSE(archiveKeyLess("abc", "ab"));
    EXPECT_TRUE(archiveKeyLess("z", "\xC3\xA4"));
    EXPECT_TRUE(archiveKeyLess("a\\z", "a_"));  // '\' (0x5C) before '_' (0x5F)
    EXPECT_FALSE(archiveKeyLess("same", "same"));
}

}  // namespace
}  // namespace mendly::vfile
