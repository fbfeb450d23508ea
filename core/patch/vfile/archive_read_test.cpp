#include <gtest/gtest.h>

#include <thread>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/vfile_test_bytes.h"
#include "support/temp_dir.h"

namespace mendly::vfile {
namespace {

using mendly::test::readFile;
using mendly::test::TempDir;
using mendly::test::writeFile;
using namespace mendly::vfile::test;

class ArchiveRead : public ::testing::Test {
protected:
    Archive openBytes(const std::string& content) {
        writeFile(pak, content);
        auto archive = Archive::open(pak);
        EXPECT_TRUE(archive);
        return std::move(*archive);
    }
    // One entry "n" whose stored bytes are `data`, laid out right after its record.
    Archive oneEntry(const std::string& data, std::uint32_t originalSize) {
        return openBytes(header(1) + record("n", 29, static_cast<std::uint32_t>(data.size()), originalSize) + data);
    }

    TempDir dir{"vfile-read"};
    std::filesystem::path pak = dir / "models.pak";
};

TEST_F(ArchiveRead, InflatesCompressedEntriesButReadStoredDoesNot) {
    const Archive archive = oneEntry(kHelloZlib, 5);
    EXPECT_EQ(archive.readEntry("n"), "hello");
    const auto stored = archive.readStored("N");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->bytes, kHelloZlib);
    EXPECT_EQ(stored->originalSize, 5u);
}

TEST_F(ArchiveRead, EqualSizesMeanRawEvenForAValidZlibStream) {
    const Archive archive = oneEntry(kHelloZlib, static_cast<std::uint32_t>(kHelloZlib.size()));
    EXPECT_EQ(archive.readEntry("n"), kHelloZlib);
}

TEST_F(ArchiveRead, AnEmptyEntryReadsAsEmpty) {
    const Archive archive = oneEntry("", 0);
    const auto contents = archive.readEntry("n");
    ASSERT_TRUE(contents);
    EXPECT_TRUE(contents->empty());
}

TEST_F(ArchiveRead, RefusesEmptyStoredBytesForNonEmptyContents) {
    EXPECT_FALSE(oneEntry("", 1).readEntry("n"));
}

TEST_F(ArchiveRead, RefusesAStreamThatInflatesToAnyOtherLength) {
    EXPECT_FALSE(oneEntry(kHelloZlib, 6).readEntry("n"));  // one byte short
    EXPECT_FALSE(oneEntry(kHelloZlib, 4).readEntry("n"));  // one byte too many
    std::string damaged = kHelloZlib;
    damaged.back() ^= 1;  // Adler-32 no longer matches
    EXPECT_FALSE(oneEntry(damaged, 5).readEntry("n"));
    EXPECT_FALSE(oneEntry("not zlib at all", 3).readEntry("n"));
}

TEST_F(ArchiveRead, RefusesAnOriginalSizeNoStreamOfThatLengthCouldReach) {
    // 13 stored bytes cannot inflate to 2 GiB; refused without trying.
    EXPECT_FALSE(oneEntry(kHelloZlib, 0x7FFFFFF0).readEntry("n"));
}

TEST_F(ArchiveRead, TheFirstOfDuplicateKeysWins) {
    const Archive archive = openBytes(header(2) + record("Dup", 54, 1, 1) + record("dup", 55, 1, 1) + "12");
    EXPECT_EQ(archive.readEntry("DUP"), "1");
    EXPECT_EQ(archive.find("dup")->name, "Dup");
    // Each entry still reads its own bytes when addressed directly.
    EXPECT_EQ(archive.readEntry(archive.entries()[1]), "2");
}

TEST_F(ArchiveRead, AFileThatShrankSinceOpeningReadsAsNothing) {
    const Archive archive = oneEntry("abcdef", 6);
    writeFile(pak, readFile(pak).substr(0, 31));
    EXPECT_FALSE(archive.readEntry("n"));
    EXPECT_FALSE(archive.readStored("n"));
}

TEST_F(ArchiveRead, NamesThatClimbAreOrdinaryNames) {
    // Member names never become file-system paths; "../x" is just the key "..\x".
    ASSERT_TRUE(writeArchiveFile(pak, {{"../X", {"up", 2}}, {"x", {"here", 4}}}));
    const auto archive = Archive::open(pak);
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->entries()[0].name, "..\\x");
    EXPECT_EQ(archive->readEntry("..\\x"), "up");
    EXPECT_EQ(archive->readEntry("../X"), "up");
    EXPECT_EQ(archive->readEntry("x"), "here");
}

TEST_F(ArchiveRead, SeveralThreadsReadOneArchiveAtOnce) {
    std::vector<NamedEntry> entries;
    for (int i = 0; i < 8; ++i) {
        const std::string contents(1000 + i, static_cast<char>('a' + i));
        entries.push_back({"e" + std::to_string(i), *compressEntry(contents)});
    }
    ASSERT_TRUE(writeArchiveFile(pak, entries));
    const auto archive = Archive::open(pak);
    ASSERT_TRUE(archive);
    std::vector<int> good(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                const int i = (t + round) % 8;
                if (archive->readEntry("e" + std::to_string(i)) == std::string(1000 + i, static_cast<char>('a' + i)))
                    ++good[t];
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good, std::vector<int>(8, 20));
}

}  // namespace
}  // namespace mendly::vfile
