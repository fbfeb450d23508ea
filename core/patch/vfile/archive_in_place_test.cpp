// Archives updated in place: the result reads exactly as the whole rewrite's
// does, costs about the changed members' bytes, and after a crash at any
// step (or inside one) recovery leaves the old archive byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_journal.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/vfile_test_bytes.h"
#include "support/temp_dir.h"

namespace mendly::vfile {
namespace {

namespace fs = std::filesystem;
using mendly::test::readFile;
using mendly::test::TempDir;
using mendly::test::writeFile;
using namespace mendly::vfile::test;

// What a reader of the archive sees: every entry, in directory order.
struct ReadEntry {
    std::string name;
    std::uint32_t originalSize = 0;
    std::string stored;
    bool operator==(const ReadEntry&) const = default;
};

void PrintTo(const ReadEntry& e, std::ostream* out) {
    *out << e.name << " (" << e.stored.size() << "/" << e.originalSize << " bytes)";
}

std::vector<ReadEntry> readAll(const fs::path& pak) {
    const auto archive = Archive::open(pak);
    if (!archive) return {{"<not a valid archive>", 0, ""}};
    std::vector<ReadEntry> out;
    for (const auto& entry : archive->entries()) {
        const auto stored = archive->readStored(entry);
        out.push_back({entry.name, entry.originalSize, stored ? stored->bytes : "<unreadable>"});
    }
    return out;
}

NamedEntry raw(std::string name, std::string bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    return {std::move(name), {std::move(bytes), size}};
}

// `count` members "tex_NN.dds" of `size` incompressible bytes each.
std::vector<NamedEntry> members(int count, std::size_t size, std::uint64_t seed = 1) {
    std::vector<NamedEntry> out;
    for (int i = 0; i < count; ++i) {
        const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
        out.push_back(raw("gfx/tex_" + n + ".dds", noise(size, seed * 1000 + static_cast<std::uint64_t>(i))));
    }
    return out;
}

std::vector<EntrySource> sourcesOf(const std::vector<NamedEntry>& entries) {
    std::vector<EntrySource> out;
    for (const auto& e : entries) out.push_back(EntrySource::inMemory(e.name, e.stored));
    return out;
}

ArchiveUpdateOptions share(double compactionShare) {
    ArchiveUpdateOptions options;
    options.compactionShare = compactionShare;
    return options;
}
const ArchiveUpdateOptions kInPlace = share(1e9);
const ArchiveUpdateOptions kRewrite = share(-1);

class ArchiveInPlace : public ::testing::Test {
protected:
    UpdateMethod update(const fs::path& path, const std::vector<NamedEntry>& updates,
                        const std::vector<std::string>& removals, const ArchiveUpdateOptions& options = kInPlace) {
        ArchiveUpdateReport report;
        EXPECT_TRUE(updateArchiveFromSources(path, sourcesOf(updates), removals, options, report));
        written = report.bytesWritten;
        return report.method;
    }

    TempDir dir{"vfile-in-place"};
    fs::path pak = dir / "gfx.pak";
    std::uint64_t written = 0;
};

struct ChangeCase {
    const char* name;
    std::string before;  // the archive's bytes
    std::vector<NamedEntry> updates;
    std::vector<std::string> removals;
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

std::string archiveBytes(const std::vector<NamedEntry>& entries) {
    TempDir scratch{"vfile-in-place-case"};
    EXPECT_TRUE(writeArchiveFile(scratch / "a.pak", entries));
    return readFile(scratch / "a.pak");
}

std::string longName(char c) { return std::string(150, c) + ".dat"; }

std::vector<ChangeCase> changeCases() {
    const auto ten = archiveBytes(members(10, 3000));
    const auto small = archiveBytes({raw("b0", "x"), raw("b1", std::string(40, 'y')), raw("b2", noise(50, 2)),
                                     raw("b3", noise(500, 3)), raw("b4", noise(5000, 4))});
    return {
        {"ReplaceOne", ten, {raw("GFX\\TEX_04.DDS", noise(4100, 77))}, {}},
        {"AddOneSortingLast", ten, {raw("gfx/zz.dds", noise(900, 78))}, {}},
        {"AddOneSortingFirst", ten, {raw("gfx/aa.dds", noise(900, 79))}, {}},
        {"RemoveTwo", ten, {}, {"gfx/tex_00.dds", "gfx/tex_07.dds", "not/there"}},
        {"ReplaceAddAndRemove", ten, {raw("gfx/tex_09.dds", "short"), raw("new", noise(70, 5))}, {"gfx/tex_03.dds"}},
        {"LaterUpdateOfTheSameKeyWins", ten, {raw("Gfx/New.dds", "first"), raw("gfx/NEW.dds", "second!")}, {}},
        {"UpdateWinsOverItsRemoval", ten, {raw("gfx/tex_05.dds", "again")}, {"gfx/tex_05.dds"}},
        {"EmptyEntriesAddedAndReplacing", ten, {raw("empty", ""), raw("gfx/tex_01.dds", "")}, {}},
        // Long new names sorting first: the directory grows over the data of
        // several kept entries, which move to the end.
        {"DirectoryGrowsOverTheFirstEntries", small, {raw(longName('a'), "1"), raw(longName('A') + "2", "22")}, {}},
        // The new directory reaches past the old end of the file.
        {"DirectoryGrowsPastTheOldEnd", archiveBytes({raw("z", "!")}),
         {raw(longName('a'), ""), raw(longName('b'), "b"), raw(longName('c'), "")}, {}},
        // Mixed-case names and a duplicate key, nothing else: the names become
        // keys and the second "a" goes.
        {"NamesBecomeKeysAndDuplicatesGo",
         header(3) + record("Gfx/UI/Icon.DDS", 85, 3, 3) + record("A", 88, 1, 1) + record("a", 89, 1, 1) + "ico12",
         {}, {}},
    };
}

class InPlaceChange : public ArchiveInPlace, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(InPlaceChange, ReadsExactlyAsTheWholeRewrite) {
    const ChangeCase& c = GetParam();
    const fs::path rewritten = dir / "rewritten.pak";
    writeFile(pak, c.before);
    writeFile(rewritten, c.before);
    ASSERT_TRUE(Archive::open(pak)) << "the case's archive must be valid";

    EXPECT_EQ(update(rewritten, c.updates, c.removals, kRewrite), UpdateMethod::Rewritten);
    EXPECT_EQ(update(pak, c.updates, c.removals), UpdateMethod::InPlace);
    EXPECT_EQ(readAll(pak), readAll(rewritten));
    EXPECT_GE(fs::file_size(pak), c.before.size()) << "an in-place update only appends";
    EXPECT_FALSE(fs::exists(journalPathFor(pak)));
    EXPECT_FALSE(fs::exists(dir / "gfx.pak.part"));
}

INSTANTIATE_TEST_SUITE_P(Cases, InPlaceChange, ::testing::ValuesIn(changeCases()),
                         [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

TEST_F(ArchiveInPlace, WritesTheChangedMembersTheDirectoryAndTheJournalOnly) {
    ASSERT_TRUE(writeArchiveFile(pak, members(200, 4096)));
    const auto before = Archive::open(pak);
    ASSERT_TRUE(before);
    const std::uint64_t oldSize = fs::file_size(pak);
    const std::uint64_t directory = before->entries().front().offset;  // the data starts right after it

    // Two of 200 members change (1%), and grow a little.
    const std::vector<NamedEntry> changed = {raw("gfx/tex_17.dds", noise(5000, 1)),
                                             raw("gfx/tex_180.dds", noise(6000, 2))};
    EXPECT_EQ(update(pak, changed, {}), UpdateMethod::InPlace);
    const std::uint64_t added = 5000 + 6000;
    EXPECT_EQ(fs::file_size(pak), oldSize + added);
    // The journal holds the old and the new region, and 36 bytes of its own.
    EXPECT_EQ(written, added + directory + (36 + 2 * directory));

    // Every kept entry's bytes are where they were: none was copied.
    const auto after = Archive::open(pak);
    ASSERT_TRUE(after);
    for (const auto& entry : before->entries()) {
        if (entry.name == "gfx\\tex_17.dds" || entry.name == "gfx\\tex_180.dds") continue;
        const auto now = after->find(entry.name);
        ASSERT_TRUE(now) << entry.name;
        EXPECT_EQ(now->offset, entry.offset) << entry.name;
    }
}

TEST_F(ArchiveInPlace, AnUpdateThatChangesNothingWritesNothing) {
    ASSERT_TRUE(writeArchiveFile(pak, members(5, 100)));
    const std::string before = readFile(pak);
    EXPECT_EQ(update(pak, {}, {"absent"}), UpdateMethod::Unchanged);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(readFile(pak), before);
}

// A crash after each step; `torn` damages the step's own write as a crash
// inside it would. Recovery must leave the old archive, byte for byte, and
// the next update must then succeed.
struct CrashCase {
    const char* name;
    InPlaceStep stopAfter;
    bool readsAsNew;  // before recovery, the step complete
    // The bytes a crash inside the step leaves, from the old bytes, those
    // after the step, and the journal; null: the step completed.
    std::string (*torn)(const std::string& old, const std::string& now, const ArchiveJournal& journal);
};

void PrintTo(const CrashCase& c, std::ostream* out) { *out << c.name; }

std::string halfTheAppend(const std::string& old, const std::string& now, const ArchiveJournal&) {
    return now.substr(0, old.size() + (now.size() - old.size()) / 2);
}

// The new directory written up to a point; the rest of the region still old.
template <int Percent>
std::string directoryCutAt(const std::string&, const std::string& now, const ArchiveJournal& journal) {
    const std::string& region = journal.oldRegion;
    const std::size_t cut = region.size() * Percent / 100;
    std::string torn = now;
    torn.replace(cut, region.size() - cut, region.substr(cut));
    return torn;
}

class InPlaceCrash : public ArchiveInPlace, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(InPlaceCrash, RecoveryLeavesTheOldArchive) {
    const CrashCase& c = GetParam();
    // The new name sorts first: the directory grows over the first entry,
    // which moves, so every kind of write happens.
    ASSERT_TRUE(writeArchiveFile(pak, members(20, 700)));
    const std::string old = readFile(pak);
    const auto oldEntries = readAll(pak);
    const std::vector<NamedEntry> changes = {raw("gfx/a_new.dds", noise(900, 9)), raw("gfx/tex_05.dds", "v2")};
    const std::vector<std::string> removals = {"gfx/tex_11.dds"};
    const fs::path expected = dir / "expected.pak";
    writeFile(expected, old);
    ASSERT_EQ(update(expected, changes, removals), UpdateMethod::InPlace);

    ArchiveUpdateOptions options = kInPlace;
    options.continueAfter = [&](InPlaceStep step) { return step != c.stopAfter; };
    ArchiveUpdateReport report;
    EXPECT_FALSE(updateArchiveFromSources(pak, sourcesOf(changes), removals, options, report));
    const auto journal = decodeJournal(readFile(journalPathFor(pak)));
    ASSERT_TRUE(journal) << "a crash leaves the journal, whole";
    EXPECT_EQ(readAll(pak), c.readsAsNew ? readAll(expected) : oldEntries);
    if (c.torn) {
        writeFile(pak, c.torn(old, readFile(pak), *journal));
        if (!c.readsAsNew) {
            EXPECT_EQ(readAll(pak), oldEntries) << "the old directory still holds";
        }
    }

    EXPECT_TRUE(recoverInterruptedUpdate(pak));
    EXPECT_EQ(readFile(pak), old);
    EXPECT_FALSE(fs::exists(journalPathFor(pak)));
    EXPECT_TRUE(recoverInterruptedUpdate(pak)) << "nothing left to do";

    // Crashed again at the same step, then updated with nobody recovering in
    // between: the update recovers first by itself.
    EXPECT_FALSE(updateArchiveFromSources(pak, sourcesOf(changes), removals, options, report));
    options.continueAfter = {};
    EXPECT_TRUE(updateArchiveFromSources(pak, sourcesOf(changes), removals, options, report));
    EXPECT_EQ(readAll(pak), readAll(expected));
    EXPECT_FALSE(fs::exists(journalPathFor(pak)));
}

constexpr InPlaceStep kDirectory = InPlaceStep::DirectoryWritten;

INSTANTIATE_TEST_SUITE_P(
    Steps, InPlaceCrash,
    ::testing::Values(CrashCase{"AfterTheJournal", InPlaceStep::JournalWritten, false, nullptr},
                      CrashCase{"InsideTheAppend", InPlaceStep::DataAppended, false, &halfTheAppend},
                      CrashCase{"AfterTheAppend", InPlaceStep::DataAppended, false, nullptr},
                      CrashCase{"InsideTheDirectoryAtItsStart", kDirectory, true, &directoryCutAt<1>},
                      CrashCase{"InsideTheDirectoryHalfWay", kDirectory, true, &directoryCutAt<50>},
                      CrashCase{"InsideTheDirectoryNearItsEnd", kDirectory, true, &directoryCutAt<99>},
                      CrashCase{"AfterTheDirectory", kDirectory, true, nullptr}),
    [](const ::testing::TestParamInfo<CrashCase>& info) { return std::string(info.param.name); });

// A journal that cannot be trusted means the archive was not touched yet (or
// is no longer the one the journal was written for): it is removed, and the
// archive left exactly as it is.
struct JournalDamage {
    const char* name;
    std::string (*damage)(const std::string& journal);
};

void PrintTo(const JournalDamage& d, std::ostream* out) { *out << d.name; }

std::string flipped(const std::string& bytes, std::size_t at) {
    std::string out = bytes;
    out[at] = static_cast<char>(out[at] ^ 0x20);
    return out;
}

class UntrustedJournal : public ArchiveInPlace, public ::testing::WithParamInterface<JournalDamage> {};

TEST_P(UntrustedJournal, IsRemovedAndTheArchiveLeftAlone) {
    ASSERT_TRUE(writeArchiveFile(pak, members(6, 300)));
    ArchiveUpdateOptions options = kInPlace;
    options.continueAfter = [](InPlaceStep) { return false; };  // killed right after the journal
    ArchiveUpdateReport report;
    ASSERT_FALSE(updateArchiveFromSources(pak, sourcesOf({raw("a", noise(400, 1))}), {}, options, report));
    const std::string journal = readFile(journalPathFor(pak));
    writeFile(journalPathFor(pak), GetParam().damage(journal));
    // Meanwhile something else put another archive there, which even an
    // intact journal does not fit.
    ASSERT_TRUE(writeArchiveFile(pak, members(7, 250, 2)));
    const std::string archive = readFile(pak);

    EXPECT_TRUE(recoverInterruptedUpdate(pak));
    EXPECT_EQ(readFile(pak), archive);
    EXPECT_FALSE(fs::exists(journalPathFor(pak)));
}

std::vector<JournalDamage> journalDamages() {
    return {
        {"Empty", [](const std::string&) { return std::string(); }},
        {"CutInTheHeader", [](const std::string& j) { return j.substr(0, 10); }},
        {"CutInTheRegions", [](const std::string& j) { return j.substr(0, j.size() / 2); }},
        {"CutBeforeTheChecksum", [](const std::string& j) { return j.substr(0, j.size() - 1); }},
        {"ARegionByteChanged", [](const std::string& j) { return flipped(j, 40); }},
        {"TheChecksumChanged", [](const std::string& j) { return flipped(j, j.size() - 2); }},
        {"IntactButForAnotherArchive", [](const std::string& j) { return j; }},
    };
}

INSTANTIATE_TEST_SUITE_P(Damages, UntrustedJournal, ::testing::ValuesIn(journalDamages()),
                         [](const ::testing::TestParamInfo<JournalDamage>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ArchiveInPlace, CompactsOnceTheUnreferencedShareWouldPassTheThreshold) {
    // Ten entries of 10000 bytes and a 228-byte directory; one is replaced
    // each time, leaving its old 10000 bytes behind.
    std::vector<NamedEntry> entries;
    for (unsigned i = 0; i < 10; ++i) entries.push_back(raw("m" + std::to_string(i), noise(10000, i)));
    ASSERT_TRUE(writeArchiveFile(pak, entries));
    const std::uint64_t whole = fs::file_size(pak);
    ASSERT_EQ(whole, 228u + 100000u);

    // Unreferenced after each update: 10000/110228 (9%), 20000/120228 (17%),
    // 30000/130228 (23%), then 40000/140228 (29%), past a quarter.
    const std::vector<UpdateMethod> expected = {UpdateMethod::InPlace, UpdateMethod::InPlace, UpdateMethod::InPlace,
                                                UpdateMethod::Rewritten, UpdateMethod::InPlace};
    for (std::size_t round = 0; round < expected.size(); ++round) {
        const auto method = update(pak, {raw("m5", noise(10000, 100 + static_cast<unsigned>(round)))}, {}, {});
        EXPECT_EQ(method, expected[round]) << "update " << round + 1;
        if (method == UpdateMethod::Rewritten) {
            EXPECT_EQ(fs::file_size(pak), whole) << "no gaps are left";
        }
    }
    EXPECT_EQ(readAll(pak).at(5).stored, noise(10000, 104));
}

TEST_F(ArchiveInPlace, OffsetsPastTheFormatsLimitRewriteTheArchiveWhole) {
    // A valid archive whose one entry lies near the end of the offsets the
    // format can hold, in a sparse file: appending past it is impossible.
    constexpr std::uint32_t far = 0x7FFFFF00u;
    writeFile(pak, header(1) + record("far", far, 16, 16));
    fs::resize_file(pak, far);
    {
        std::fstream out(pak, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(far);
        out << "0123456789abcdef";
    }
    ASSERT_TRUE(Archive::open(pak));
    EXPECT_EQ(update(pak, {raw("near", noise(512, 1))}, {}, kInPlace), UpdateMethod::Rewritten);
    EXPECT_EQ(readAll(pak), (std::vector<ReadEntry>{{"far", 16, "0123456789abcdef"}, {"near", 512, noise(512, 1)}}));
    EXPECT_LT(fs::file_size(pak), 1000u);
}

TEST_F(ArchiveInPlace, AnArchiveWithAnotherNameIsRewrittenAndTheOtherNameKeepsTheOldOne) {
    ASSERT_TRUE(writeArchiveFile(pak, members(3, 200)));
    const std::string old = readFile(pak);
    fs::create_hard_link(pak, dir / "copy.pak");
    EXPECT_EQ(update(pak, {raw("new", "n")}, {}), UpdateMethod::Rewritten);
    EXPECT_EQ(readFile(dir / "copy.pak"), old);
    EXPECT_EQ(readAll(pak).back(), (ReadEntry{"new", 1, "n"}));
}

TEST_F(ArchiveInPlace, ASourceThatFailsDuringTheAppendLeavesTheOldArchiveAndNoJournal) {
    ASSERT_TRUE(writeArchiveFile(pak, members(8, 500)));
    const std::string old = readFile(pak);
    writeFile(dir / "short.bin", std::string(100, 's'));
    EntrySource cut = EntrySource::inMemory("gfx/new.dds", {"", 0});
    cut.file = dir / "short.bin";
    cut.storedSize = cut.originalSize = 1000;  // 900 bytes more than there are
    ArchiveUpdateReport report;
    EXPECT_FALSE(updateArchiveFromSources(pak, {EntrySource::inMemory("a", {noise(300, 3), 300}), cut}, {},
                                          kInPlace, report));
    EXPECT_EQ(report.method, UpdateMethod::InPlace);
    EXPECT_EQ(readFile(pak), old);
    EXPECT_FALSE(fs::exists(journalPathFor(pak)));
}

TEST_F(ArchiveInPlace, AJournalNameTakenBySomethingElseFallsBackToTheWholeRewrite) {
    ASSERT_TRUE(writeArchiveFile(pak, members(4, 200)));
    fs::create_directories(journalPathFor(pak) / "somebody's");
    EXPECT_EQ(update(pak, {raw("new", "n")}, {}), UpdateMethod::Rewritten);
    EXPECT_EQ(readAll(pak).size(), 5u);
    EXPECT_TRUE(fs::is_directory(journalPathFor(pak) / "somebody's"));
}

}  // namespace
}  // namespace mendly::vfile
