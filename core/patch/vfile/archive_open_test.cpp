#include "patch/vfile/archive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "patch/vfile/archive_writer.h"
#include "patch/vfile/format.h"
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

// Two entries "a" and "b": their records end the directory at byte 50, and
// ten data bytes follow, so the file is 60 bytes long. The stored bytes of an
// entry must lie after the directory and belong to no other entry.
TEST_F(ArchiveOpen, EntriesMayNotShareBytesOrReachIntoTheDirectory) {
    const struct {
        const char* what;
        std::uint32_t aOffset, aSize, bOffset, bSize;
        bool opens;
    } cases[] = {
        {"side by side", 50, 4, 54, 6, true},
        {"side by side, listed backwards", 56, 4, 50, 6, true},
        {"with gaps between and after them", 52, 2, 57, 2, true},
        {"empty entries at the header, at shared offsets and at the end", 0, 0, 60, 0, true},
        {"an empty entry where another's bytes are", 53, 0, 50, 10, true},
        {"the same bytes", 50, 4, 50, 4, false},
        {"one byte in common", 50, 4, 53, 4, false},
        {"one inside the other", 50, 10, 52, 2, false},
        {"one byte in common, listed backwards", 55, 5, 50, 6, false},
        {"in the header", 0, 4, 50, 4, false},
        {"in the records", 30, 4, 50, 4, false},
        {"in the last name byte", 49, 1, 50, 10, false},
        {"across the end of the directory", 48, 4, 52, 4, false},
        {"each the whole file: twice its size in all", 0, 60, 0, 60, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string content = header(2) + record("a", c.aOffset, c.aSize, c.aSize) +
                                    record("b", c.bOffset, c.bSize, c.bSize) + std::string(10, 'd');
        ASSERT_EQ(content.size(), 60u);
        const auto archive = openBytes(content);
        EXPECT_EQ(archive.has_value(), c.opens);
        if (!archive) continue;
        std::uint64_t stored = 0;
        for (const auto& entry : archive->entries()) stored += entry.storedSize;
        EXPECT_LE(stored, content.size() - 50);
    }
}

TEST_F(ArchiveOpen, WhatTheWriterMakesStillOpens) {
    const std::vector<NamedEntry> written = {
        {"a/first.dat", {"raw bytes", 9}},
        {"b/empty.dat", {"", 0}},
        {"c/hello.txt", {kHelloZlib, 5}},
        {"d/last-empty.dat", {"", 0}},
    };
    ASSERT_TRUE(writeArchiveFile(pak, written));
    const auto archive = Archive::open(pak);
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->entries().size(), 4u);
    EXPECT_EQ(archive->readEntry("a/first.dat"), "raw bytes");
    EXPECT_EQ(archive->readEntry("b/empty.dat"), "");
    EXPECT_EQ(archive->readEntry("c/hello.txt"), "hello");
    EXPECT_EQ(archive->readEntry("d/last-empty.dat"), "");
}

// A small file with a huge directory: 100,000 records. When every entry
// claims the whole file, reading them all would cost 100,000 times the file;
// such an archive is refused as corrupt. One byte per entry, listed against
// the order of their offsets, is a sound archive and opens. Either answer
// comes at the cost of reading the directory once.
TEST_F(ArchiveOpen, AHugeDirectoryIsJudgedInTimeProportionalToTheFile) {
    constexpr std::uint32_t kCount = 100'000;
    constexpr std::uint32_t kRecord = kRecordFixedSize + 7;  // names "e000000"
    constexpr std::uint32_t kDirectoryEnd = kHeaderSize + kCount * kRecord;
    for (const bool wholeFile : {true, false}) {
        SCOPED_TRACE(wholeFile ? "every entry the whole file" : "one byte each");
        std::string content = header(kCount);
        content.reserve(kDirectoryEnd + kCount);
        for (std::uint32_t i = 0; i < kCount; ++i) {
            const std::string name = "e" + std::string(6 - std::to_string(i).size(), '0') + std::to_string(i);
            const std::uint32_t offset = wholeFile ? 0 : kDirectoryEnd + kCount - 1 - i;
            const std::uint32_t size = wholeFile ? kDirectoryEnd + kCount : 1;
            content += record(name, offset, size, size);
        }
        content += std::string(kCount, 'x');
        ASSERT_EQ(content.size(), kDirectoryEnd + kCount);
        writeFile(pak, content);

        const auto started = std::chrono::steady_clock::now();
        const auto archive = Archive::open(pak);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(archive.has_value(), !wholeFile);
        // Generous for slow, sanitised builds; a directory read quadratically
        // would take minutes.
        EXPECT_LT(took, std::chrono::seconds(10));
        if (archive) {
            EXPECT_EQ(archive->entries().size(), kCount);
        }
    }
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
