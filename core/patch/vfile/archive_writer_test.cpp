#include "patch/vfile/archive_writer.h"

#include <gtest/gtest.h>

#include "patch/vfile/archive.h"
#include "patch/vfile/vfile_test_bytes.h"
#include "support/temp_dir.h"

namespace mendly::vfile {
namespace {

using mendly::test::readFile;
using mendly::test::TempDir;
using mendly::test::writeFile;
using namespace mendly::vfile::test;

class ArchiveWriter : public ::testing::Test {
protected:
    TempDir dir{"vfile-writer"};
    std::filesystem::path pak = dir / "worlds.pak";
};

TEST_F(ArchiveWriter, WritesHeaderDirectoryAndDataByteForByte) {
    const std::vector<NamedEntry> entries = {
        {"Data/A.txt", {"abc", 3}},
        {"b.bin", {kHelloZlib, 5}},
        {"empty", {"", 0}},
    };
    ASSERT_TRUE(writeArchiveFile(pak, entries));

    // Records: 20+10, 20+5, 20+5 bytes; the data starts at 8 + 30 + 25 + 25 = 88.
    const std::string expected = kMagicBytes + bytes({3, 0, 0, 0}) +
                                 bytes({30, 0, 0, 0, 88, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 10, 0, 0, 0}) +
                                 "data\\a.txt" +
                                 bytes({25, 0, 0, 0, 91, 0, 0, 0, 13, 0, 0, 0, 5, 0, 0, 0, 5, 0, 0, 0}) +
                                 "b.bin" +
                                 bytes({25, 0, 0, 0, 104, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0}) +
                                 "empty" + "abc" + kHelloZlib;
    EXPECT_EQ(readFile(pak), expected);
    EXPECT_FALSE(std::filesystem::exists(dir / "worlds.pak.part"));
}

TEST_F(ArchiveWriter, KeepsTheGivenOrderAndWritesKeysOfNormalisedNames) {
    ASSERT_TRUE(writeArchiveFile(pak, {{"//Zeta/./X.DAT", {"z", 1}}, {"alpha", {"a", 1}}}));
    const auto archive = Archive::open(pak);
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->entries().size(), 2u);
    EXPECT_EQ(archive->entries()[0].name, "zeta\\x.dat");
    EXPECT_EQ(archive->entries()[1].name, "alpha");
    EXPECT_TRUE(archive->namesAreLowercase());
}

TEST_F(ArchiveWriter, RefusesWhatTheFormatCannotHoldAndWritesNothing) {
    EXPECT_FALSE(writeArchiveFile(pak, {}));
    EXPECT_FALSE(writeArchiveFile(pak, {{"", {"a", 1}}}));
    EXPECT_FALSE(writeArchiveFile(pak, {{"./", {"a", 1}}}));
    EXPECT_FALSE(writeArchiveFile(pak, {{"ok", {"a", 1}}, {"/.", {"a", 1}}}));
    EXPECT_FALSE(writeArchiveFile(pak, {{"big", {"x", 0x80000000u}}}));
    EXPECT_FALSE(std::filesystem::exists(pak));
    EXPECT_FALSE(std::filesystem::exists(dir / "worlds.pak.part"));
}

TEST_F(ArchiveWriter, CreatesMissingFolders) {
    const auto nested = dir / "a" / "b" / "gfx.pak";
    ASSERT_TRUE(writeArchiveFile(nested, {{"x", {"1", 1}}}));
    EXPECT_TRUE(Archive::open(nested));
}

TEST_F(ArchiveWriter, AFailedWriteLeavesThePreviousArchiveIntact) {
    ASSERT_TRUE(writeArchiveFile(pak, {{"keep", {"old", 3}}}));
    const std::string before = readFile(pak);
    // The staging file cannot be created where a folder of that name stands.
    std::filesystem::create_directory(dir / "worlds.pak.part");
    EXPECT_FALSE(writeArchiveFile(pak, {{"keep", {"new", 3}}}));
    EXPECT_EQ(readFile(pak), before);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "worlds.pak.part"));
}

TEST_F(ArchiveWriter, AStaleStagingFileFromAnEarlierCrashIsOverwritten) {
    writeFile(dir / "worlds.pak.part", std::string(500, 'j'));
    ASSERT_TRUE(writeArchiveFile(pak, {{"x", {"1", 1}}}));
    EXPECT_EQ(readFile(pak).size(), 8u + 21u + 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / "worlds.pak.part"));
}

}  // namespace
}  // namespace mendly::vfile
