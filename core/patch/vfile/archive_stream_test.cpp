// Streaming archive writes (sources in memory or in files) and the reader a
// worker keeps from entry to entry.
#include <gtest/gtest.h>

#include <random>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_reader.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/entry_codec.h"
#include "support/temp_dir.h"

namespace mendly::vfile {
namespace {

using mendly::test::readFile;
using mendly::test::writeFile;

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

std::string lines(std::size_t count, std::string_view word) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += std::string(word) + " " + std::to_string(i % 97) + "\n";
    return out;
}

StoredEntry stored(std::string_view contents) { return compressEntry(contents).value(); }

EntrySource fromFile(std::string name, const std::filesystem::path& file, std::uint64_t offset,
                     const StoredEntry& entry) {
    EntrySource source = EntrySource::inMemory(std::move(name), entry);
    source.bytes = {};
    source.file = file;
    source.offset = offset;
    return source;
}

class ArchiveStream : public ::testing::Test {
protected:
    // The bytes writeArchiveFile gives for `entries`: the reference layout.
    std::string reference(const std::vector<NamedEntry>& entries) {
        EXPECT_TRUE(writeArchiveFile(dir / "reference.pak", entries));
        return readFile(dir / "reference.pak");
    }
    std::string expand(ArchiveReader& reader, const Archive& archive, std::string_view name, bool asStored = false) {
        std::string got;
        const auto entry = archive.find(name);
        const ContentSink sink = [&got](std::string_view piece) { got.append(piece); };
        if (!entry) return "<missing>";
        return (asStored ? reader.readStored(archive, *entry, sink) : reader.expand(archive, *entry, sink)) ? got
                                                                                                           : "<failed>";
    }

    mendly::test::TempDir dir{"vfile-stream"};
    std::filesystem::path pak = dir / "gfx.pak", blob = dir / "blob.bin";
    const StoredEntry text = stored(lines(400, "alpha")), noise = stored(randomBytes(3000, 3));
    const StoredEntry other = stored(lines(300, "omega"));
};

TEST_F(ArchiveStream, FileAndMemorySourcesWriteWhatWholeEntriesWrite) {
    ASSERT_TRUE(!text.isRaw() && noise.isRaw());
    writeFile(blob, "JUNK" + text.bytes + "--" + noise.bytes);
    const std::uint64_t noiseAt = 4 + text.bytes.size() + 2;
    const StoredEntry small{"raw!", 4};
    ASSERT_TRUE(writeArchiveFromSources(
        pak, {fromFile("Data/Text.txt", blob, 4, text), EntrySource::inMemory("b.bin", small),
              fromFile("noise.dat", blob, noiseAt, noise), fromFile("empty", blob, noiseAt + noise.bytes.size(), {})}));
    EXPECT_EQ(readFile(pak),
              reference({{"Data/Text.txt", text}, {"b.bin", small}, {"noise.dat", noise}, {"empty", {}}}));
}

TEST_F(ArchiveStream, UpdateKeepsReplacesRemovesAndSortsByKey) {
    const StoredEntry zeta{"zz", 2}, beta{"b1", 2}, betaLater{"b2", 2}, gamma{"gg", 2}, delta{"dddd", 4};
    ASSERT_TRUE(writeArchiveFile(pak, {{"Zeta", zeta}, {"beta", beta}, {"ALPHA", text}, {"gamma", gamma},
                                       {"BETA", betaLater}}));
    writeFile(blob, "x" + other.bytes);
    ASSERT_TRUE(updateArchiveFromSources(
        pak, {fromFile("Alpha", blob, 1, other), EntrySource::inMemory("Delta", delta)}, {"GAMMA"}));
    // Of two equal keys the first stays; every kept entry is copied as stored.
    EXPECT_EQ(readFile(pak), reference({{"alpha", other}, {"beta", beta}, {"delta", delta}, {"zeta", zeta}}));
    EXPECT_FALSE(std::filesystem::exists(dir / "gfx.pak.part"));
}

TEST_F(ArchiveStream, AFileSourceShorterThanDeclaredLeavesTheOldArchive) {
    ASSERT_TRUE(writeArchiveFile(pak, {{"keep", text}}));
    const std::string before = readFile(pak);
    writeFile(blob, other.bytes.substr(0, other.bytes.size() - 1));
    for (const EntrySource& source : {fromFile("new", blob, 0, other),  // one byte missing
                                      fromFile("new", blob, other.bytes.size() + 5, other),
                                      fromFile("new", dir / "missing.bin", 0, other)}) {
        EXPECT_FALSE(updateArchiveFromSources(pak, {source}, {})) << source.offset;
        EXPECT_EQ(readFile(pak), before);
        EXPECT_FALSE(std::filesystem::exists(dir / "gfx.pak.part"));
    }
}

TEST_F(ArchiveStream, ACorruptOldArchiveGivesWayToTheUpdatesInTheirOrder) {
    writeFile(pak, "this is not an archive");
    EXPECT_FALSE(updateArchiveFromSources(pak, {}, {"x"}));
    EXPECT_EQ(readFile(pak), "this is not an archive");
    const StoredEntry z{"zz", 2}, a{"aa", 2};
    ASSERT_TRUE(
        updateArchiveFromSources(pak, {EntrySource::inMemory("z", z), EntrySource::inMemory("a", a)}, {"z"}));
    EXPECT_EQ(readFile(pak), reference({{"z", z}, {"a", a}}));
}

TEST_F(ArchiveStream, OneReaderAlternatesBetweenArchivesAndEntries) {
    const std::string one = lines(500, "one"), two = randomBytes(2000, 9), x = lines(200, "ex");
    ASSERT_TRUE(writeArchiveFile(pak, {{"one", stored(one)}, {"two", stored(two)}, {"three", {}}}));
    ASSERT_TRUE(writeArchiveFile(dir / "worlds.pak", {{"x", stored(x)}, {"y", {"short", 5}}}));
    const auto a = Archive::open(pak), b = Archive::open(dir / "worlds.pak");
    ASSERT_TRUE(a && b);
    ArchiveReader reader;
    EXPECT_EQ(expand(reader, *a, "one"), one);
    EXPECT_EQ(expand(reader, *b, "x"), x);
    EXPECT_EQ(expand(reader, *a, "two", true), two);
    EXPECT_EQ(expand(reader, *b, "x", true), stored(x).bytes);
    EXPECT_EQ(expand(reader, *b, "y"), "short");
    EXPECT_EQ(expand(reader, *a, "three"), "");
    EXPECT_EQ(expand(reader, *a, "one", true), stored(one).bytes);
    EXPECT_EQ(expand(reader, *a, "two"), two);
}

TEST_F(ArchiveStream, ReadsOfATruncatedEntryFailAndTheReaderRecovers) {
    const std::string first = lines(300, "first");
    for (const std::string& last : {randomBytes(5000, 4), lines(300, "last")}) {
        ASSERT_TRUE(writeArchiveFile(pak, {{"first", stored(first)}, {"last", stored(last)}}));
        const auto archive = Archive::open(pak);
        ASSERT_TRUE(archive);
        ArchiveReader reader;
        ASSERT_EQ(expand(reader, *archive, "last"), last);  // the reader now holds the file open
        std::filesystem::resize_file(pak, std::filesystem::file_size(pak) - 10);
        EXPECT_EQ(expand(reader, *archive, "last"), "<failed>");
        EXPECT_EQ(expand(reader, *archive, "last", true), "<failed>");
        EXPECT_EQ(expand(reader, *archive, "first"), first);
    }
}

}  // namespace
}  // namespace mendly::vfile
