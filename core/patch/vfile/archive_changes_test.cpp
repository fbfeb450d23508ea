#include <gtest/gtest.h>

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

NamedEntry member(std::string name, const std::string& contents) {
    return {std::move(name), *compressEntry(contents)};
}

std::vector<std::string> names(const Archive& archive) {
    std::vector<std::string> out;
    for (const auto& entry : archive.entries()) out.push_back(entry.name);
    return out;
}

class ArchiveChanges : public ::testing::Test {
protected:
    Archive writeAndOpen(const std::vector<NamedEntry>& entries) {
        EXPECT_TRUE(writeArchiveFile(pak, entries));
        auto archive = Archive::open(pak);
        EXPECT_TRUE(archive);
        return std::move(*archive);
    }

    TempDir dir{"vfile-changes"};
    std::filesystem::path pak = dir / "scripts.pak";
};

TEST_F(ArchiveChanges, AddsReplacesAndRemovesThenSortsByKey) {
    Archive archive = writeAndOpen({member("zeta", "z1"), member("Beta", "b1"), member("gamma", "g1")});
    ASSERT_TRUE(archive.applyChanges({member("alpha", "a2"), member("ZETA", "z2")}, {"GAMMA"}));

    EXPECT_EQ(names(archive), (std::vector<std::string>{"alpha", "beta", "zeta"}));
    EXPECT_TRUE(archive.namesAreLowercase());
    EXPECT_EQ(archive.readEntry("alpha"), "a2");
    EXPECT_EQ(archive.readEntry("beta"), "b1");
    EXPECT_EQ(archive.readEntry("zeta"), "z2");
    EXPECT_FALSE(archive.find("gamma"));

    // The file on disk says the same as the refreshed object.
    const auto reread = Archive::open(pak);
    ASSERT_TRUE(reread);
    EXPECT_EQ(names(*reread), names(archive));
}

TEST_F(ArchiveChanges, KeepsStoredBytesOfUntouchedEntriesAsTheyWere) {
    // A raw entry and a deliberately verbose stream stay byte for byte.
    Archive archive = writeAndOpen({{"raw", {"plain", 5}}, {"odd", {kHelloZlib, 5}}});
    ASSERT_TRUE(archive.applyChanges({member("new", "n")}, {}));
    EXPECT_EQ(archive.readStored("raw"), (StoredEntry{"plain", 5}));
    EXPECT_EQ(archive.readStored("odd"), (StoredEntry{kHelloZlib, 5}));
}

TEST_F(ArchiveChanges, TwoUpdatesDifferingOnlyInCaseLeaveTheLaterOne) {
    Archive archive = writeAndOpen({member("other", "o")});
    ASSERT_TRUE(archive.applyChanges({member("Foo.dat", "first"), member("foo.DAT", "second")}, {}));
    EXPECT_EQ(names(archive), (std::vector<std::string>{"foo.dat", "other"}));
    EXPECT_EQ(archive.readEntry("FOO.DAT"), "second");
}

TEST_F(ArchiveChanges, TheFirstOfDuplicateKeysIsKept) {
    writeFile(pak, header(2) + record("A", 50, 1, 1) + record("a", 51, 1, 1) + "12");
    auto archive = Archive::open(pak);
    ASSERT_TRUE(archive);
    ASSERT_TRUE(archive->applyChanges({member("b", "b")}, {}));
    EXPECT_EQ(names(*archive), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(archive->readEntry("a"), "1");
}

TEST_F(ArchiveChanges, RemovalsUseNormalisedNamesAndIgnoreUnknownOnes) {
    Archive archive = writeAndOpen({member("data/a.txt", "a"), member("data/b.txt", "b")});
    ASSERT_TRUE(archive.applyChanges({}, {"/DATA//A.TXT", "missing", "data/./x/../b.txt/.."}));
    EXPECT_EQ(names(archive), (std::vector<std::string>{"data\\b.txt"}));
}

TEST_F(ArchiveChanges, AnUpdateWinsOverARemovalOfTheSameName) {
    Archive archive = writeAndOpen({member("x", "old"), member("y", "y")});
    ASSERT_TRUE(archive.applyChanges({member("x", "new")}, {"x"}));
    EXPECT_EQ(archive.readEntry("x"), "new");
}

TEST_F(ArchiveChanges, RemovingTheOnlyEntryFailsAndLeavesTheFileAlone) {
    Archive archive = writeAndOpen({member("only", "1")});
    const std::string before = readFile(pak);
    EXPECT_FALSE(archive.applyChanges({}, {"ONLY"}));
    EXPECT_EQ(readFile(pak), before);
    EXPECT_EQ(names(archive), (std::vector<std::string>{"only"}));
}

TEST_F(ArchiveChanges, AnUnreadableEntryFailsAndLeavesTheFileAlone) {
    Archive archive = writeAndOpen({member("a", std::string(100, 'a')), member("b", "b")});
    const std::string shortened = readFile(pak).substr(0, archive.entries()[1].offset);
    writeFile(pak, shortened);
    EXPECT_FALSE(archive.applyChanges({member("c", "c")}, {}));
    EXPECT_EQ(readFile(pak), shortened);
}

TEST_F(ArchiveChanges, MixedCaseNamesAreRewrittenAsKeys) {
    writeFile(pak, header(1) + record("Gfx/UI/Icon.DDS", 43, 3, 3) + "ico");
    auto archive = Archive::open(pak);
    ASSERT_TRUE(archive);
    EXPECT_FALSE(archive->namesAreLowercase());
    ASSERT_TRUE(archive->applyChanges({}, {}));
    EXPECT_TRUE(archive->namesAreLowercase());
    EXPECT_EQ(names(*archive), (std::vector<std::string>{"gfx\\ui\\icon.dds"}));
    EXPECT_EQ(archive->readEntry("gfx/ui/icon.dds"), "ico");
}

class UpdateArchiveFile : public ArchiveChanges {};

TEST_F(UpdateArchiveFile, WithoutAnArchiveOrUpdatesItFailsAndCreatesNothing) {
    EXPECT_FALSE(updateArchiveFile(pak, {}, {"x"}));
    EXPECT_FALSE(std::filesystem::exists(pak));
}

TEST_F(UpdateArchiveFile, WithoutAnArchiveItWritesTheUpdatesInTheGivenOrder) {
    ASSERT_TRUE(updateArchiveFile(pak, {member("b", "2"), member("A", "1")}, {"b"}));
    const auto archive = Archive::open(pak);
    ASSERT_TRUE(archive);
    EXPECT_EQ(names(*archive), (std::vector<std::string>{"b", "a"}));
}

TEST_F(UpdateArchiveFile, ReplacesACorruptArchiveWithJustTheUpdates) {
    writeFile(pak, header(5) + "garbage that is not a directory at all, really not");
    ASSERT_TRUE(updateArchiveFile(pak, {member("fresh", "f")}, {}));
    const auto archive = Archive::open(pak);
    ASSERT_TRUE(archive);
    EXPECT_EQ(names(*archive), (std::vector<std::string>{"fresh"}));
    EXPECT_EQ(archive->readEntry("fresh"), "f");
}

TEST_F(UpdateArchiveFile, AnArchiveLeftWithNoEntriesIsDeleted) {
    writeAndOpen({member("gone", "g")});
    EXPECT_TRUE(updateArchiveFile(pak, {}, {"gone"}));
    EXPECT_FALSE(std::filesystem::exists(pak));
}

}  // namespace
}  // namespace mendly::vfile
