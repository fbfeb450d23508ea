#include "patch/vfile/archive.h"

#include <gtest/gtest.h>

#include "patch/vfile/vfile_test_bytes.h"
#include "support/temp_dir.h"

namespace mendly::vfile {
namespace {

using mendly::test::TempDir;
using mendly::test::writeFile;
using namespace mendly::vfile::test;

class ArchiveOpen : public ::testing::Test {
protected:
    std::optional<Archive> openBytes(const std::string& content) {
        writeFile(pak, content);
        return Archive::open(pak);
    }
    // One entry "n" whose stored bytes are `data`, laid out right after its record.
    static std::string oneEntry(const std::string& data, std::uint32_t originalSize) {
        return header(1) + record("n", 29, static_cast<std::uint32_t>(data.size()), originalSize) + data;
    }

    TempDir dir{"vfile-open"};
    std::filesystem::path pak = dir / "gfx.pak";
};

TEST_F(ArchiveOpen, AcceptsAHeaderWithNoEntries) {
    const auto archive = openBytes(header(0));
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->entries().empty());
    EXPECT_EQ(archive->path(), pak);
}

TEST_F(ArchiveOpen, RejectsFilesShorterThanTheHeader) {
    EXPECT_FALSE(openBytes(""));
    EXPECT_FALSE(openBytes(header(0).substr(0, 7)));
}

TEST_F(ArchiveOpen, RejectsAWrongMagic) {
    EXPECT_FALSE(openBytes(bytes({0xDE, 0x8C, 0x45, 0x3E}) + le32(0)));
    EXPECT_FALSE(openBytes(bytes({0x3D, 0x45, 0x8C, 0xDE}) + le32(0)));
}

TEST_F(ArchiveOpen, RejectsMissingFilesAndFolders) {
    EXPECT_FALSE(Archive::open(dir / "absent.pak"));
    EXPECT_FALSE(Archive::open(dir.path()));
}

TEST_F(ArchiveOpen, RejectsMoreEntriesThanTheFileCanHold) {
    // (200 - 8) / 20 = 9 records at most.
    EXPECT_FALSE(openBytes(header(10) + std::string(192, '\0')));
    EXPECT_FALSE(openBytes(header(0x7FFFFFFF) + record("a", 0, 0, 0)));
    EXPECT_FALSE(openBytes(header(0xFFFFFFFF) + record("a", 0, 0, 0)));
}

TEST_F(ArchiveOpen, AcceptsAsManyEmptyNamedRecordsAsFit) {
    std::string content = header(9);
    for (int i = 0; i < 9; ++i) content += record("", 0, 0, 0);
    ASSERT_EQ(content.size(), 188u);
    const auto archive = openBytes(content);
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries().size(), 9u);
    EXPECT_EQ(archive->entries()[0].name, ".");
}

TEST_F(ArchiveOpen, RejectsATruncatedDirectory) {
    const std::string full = header(2) + record("first", 0, 0, 0) + record("second", 0, 0, 0);
    EXPECT_TRUE(openBytes(full));
    EXPECT_FALSE(openBytes(full.substr(0, full.size() - 1)));          // inside the last name
    // The second record breaks off after 12 bytes; what follows is not enough for its name.
    EXPECT_FALSE(openBytes(full.substr(0, 8 + 25 + 12) + "padding.."));
}

TEST_F(ArchiveOpen, RejectsANameLongerThanTheRestOfTheFile) {
    EXPECT_FALSE(openBytes(header(1) + record({21, 0, 0, 0, 2, "a"})));
    EXPECT_FALSE(openBytes(header(1) + record({21, 0, 0, 0, 0x7FFFFFFF, "a"})));
}

TEST_F(ArchiveOpen, RejectsAnyFieldOfTwoToTheThirtyOneOrMore) {
    const std::uint32_t big = 0x80000000u;
    EXPECT_FALSE(openBytes(header(1) + record({21, big, 0, 0, 1, "a"})));
    EXPECT_FALSE(openBytes(header(1) + record({21, 0, big, 0, 1, "a"})));
    EXPECT_FALSE(openBytes(header(1) + record({21, 0, 0, big, 1, "a"})));
    EXPECT_FALSE(openBytes(header(1) + record({21, 0, 0, 0, big, "a"})));
    EXPECT_FALSE(openBytes(header(1) + record({21, 0, 0, 0, 0xFFFFFFFF, "a"})));
}

TEST_F(ArchiveOpen, IgnoresTheRecordSizeField) {
    const auto archive = openBytes(header(1) + record({0xFFFFFFFF, 29, 1, 1, 1, "a"}) + "x");
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->readEntry("a"), "x");
}

TEST_F(ArchiveOpen, AcceptsDataEndingExactlyAtTheEndOfTheFile) {
    const auto archive = openBytes(oneEntry("xyz", 3));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0].offset, 29u);
    EXPECT_EQ(archive->entries()[0].storedSize, 3u);
}

TEST_F(ArchiveOpen, RejectsDataEndingOneBytePastTheEnd) {
    EXPECT_FALSE(openBytes(header(1) + record("n", 29, 4, 4) + "xyz"));
    EXPECT_FALSE(openBytes(header(1) + record("n", 33, 0, 0) + "xyz"));
}

TEST_F(ArchiveOpen, RejectsTheLargestOffsetsAndSizesWhenTheyPassTheEnd) {
    EXPECT_FALSE(openBytes(header(1) + record("n", 0x7FFFFFFF, 0x7FFFFFFF, 0) + "xyz"));
    EXPECT_FALSE(openBytes(header(1) + record("n", 0x7FFFFFFF, 2, 2) + "xyz"));
}

TEST_F(ArchiveOpen, AcceptsEntriesWhoseDataOverlapsOrLiesInTheDirectory) {
    // The format has no rule against shared bytes; such entries simply read them.
    const auto archive = openBytes(header(2) + record("a", 0, 4, 4) + record("b", 2, 4, 4));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->readEntry("a"), kMagicBytes);
    EXPECT_EQ(archive->readEntry("b"), kMagicBytes.substr(2) + bytes({2, 0}));
}

TEST_F(ArchiveOpen, NormalisesNamesAndDropsZeroBytes) {
    const std::string zeroed("Fo\0o/Bar.DAT", 12);
    const auto archive = openBytes(header(2) + record(zeroed, 0, 0, 0) + record("x/./y/../z", 0, 0, 0));
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0].name, "Foo\\Bar.DAT");
    EXPECT_EQ(archive->entries()[0].key, "foo\\bar.dat");
    EXPECT_EQ(archive->entries()[1].name, "x\\z");
    EXPECT_FALSE(archive->namesAreLowercase());
    ASSERT_TRUE(archive->find("FOO/bar.dat"));
    EXPECT_EQ(archive->find("/foo\\\\BAR.dat")->name, "Foo\\Bar.DAT");
    EXPECT_FALSE(archive->find("foo"));
}

}  // namespace
}  // namespace mendly::vfile
