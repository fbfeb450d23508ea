#include "patch/archive_update.h"

#include <gtest/gtest.h>

#include <fstream>

#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "patch/patch_reporting.h"
#include "patch/staged_file.h"
#include "patch/vfile/archive.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/single_file_payload.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using test::PatchEventRecorder;
using test::TempDir;
using test::writeGameArchive;

std::string payloadWithBody(std::string_view body, std::uint32_t originalSize) {
    const auto payload = vfile::buildSingleFilePayload(vfile::StoredEntry{std::string(body), originalSize});
    EXPECT_TRUE(payload);
    return payload.value_or("");
}

// A member as the download stage leaves it in staging (a plain member
// compressed into its stored form, a payload checked and converted where
// needed), then handed to addStagedArchiveUpdate.
class AddArchiveUpdateTest : public ::testing::Test {
protected:
    bool add(std::string_view bytes, std::string relative) {
        const ManifestEntry entry{std::move(relative), md5Hex(bytes)};
        const auto ref = classifyArchivePath(entry.relative);
        EXPECT_TRUE(ref) << entry.relative;
        const std::filesystem::path served = dir / ("served" + std::to_string(++count));
        test::writeFile(served, bytes);
        std::filesystem::path staged = served;
        if (ref->hadPakPrefix) {
            bool converted = false;
            status = checkStagedPayload(served, dir / ("conv" + std::to_string(count)), converted, buffers);
            if (status != StagingStatus::Ok) return false;
            if (converted) staged = dir / ("conv" + std::to_string(count));
        } else {
            staged = dir / ("entry" + std::to_string(count));
            status = writeStagedEntry(served, staged, buffers);
            if (status != StagingStatus::Ok) return false;
        }
        return addStagedArchiveUpdate(staged, entry, *ref, updates, removals, error);
    }

    // The stored form an update carries, read back from its staged file.
    static vfile::StoredEntry stored(const vfile::EntrySource& source) {
        std::ifstream in(source.file, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(source.offset));
        std::string bytes(source.storedSize, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return {bytes, source.originalSize};
    }

    TempDir dir;
    int count = 0;
    vfile::CodecBuffers buffers;
    StagingStatus status = StagingStatus::Ok;
    ArchiveUpdates updates;
    ArchiveRemovals removals;
    std::u16string error;
};

TEST_F(AddArchiveUpdateTest, PlainMemberIsCompressedUnderItsMemberPath) {
    const std::string contents(4000, 'z');
    ASSERT_TRUE(add(contents, "gfx/ui/a.dds"));
    ASSERT_EQ(updates["gfx"].size(), 1u);
    EXPECT_EQ(updates["gfx"][0].name, "ui\\a.dds");
    EXPECT_EQ(stored(updates["gfx"][0]), *vfile::compressEntry(contents));
    EXPECT_TRUE(removals.empty());
}

TEST_F(AddArchiveUpdateTest, IncompressibleMemberIsStoredRaw) {
    std::string noise;
    std::uint32_t x = 7;
    for (int i = 0; i < 5000; ++i) {
        x = x * 1103515245u + 12345u;
        noise += static_cast<char>(x >> 24);
    }
    ASSERT_TRUE(add(noise, "gfx/noise.bin"));
    EXPECT_EQ(stored(updates["gfx"][0]), (vfile::StoredEntry{noise, 5000}));
}

TEST_F(AddArchiveUpdateTest, PayloadBodyIsStoredUnchangedAndTheOldPakNameRemoved) {
    const std::string contents(4000, 'z');
    const std::string stream = *vfile::zlibCompress(contents);
    ASSERT_TRUE(add(payloadWithBody(stream, 4000), "worlds/sub/pak_x.dat"));
    ASSERT_EQ(updates["worlds"].size(), 1u);
    EXPECT_EQ(updates["worlds"][0].name, "sub\\x.dat");
    EXPECT_EQ(stored(updates["worlds"][0]), (vfile::StoredEntry{stream, 4000}));
    EXPECT_EQ(removals["worlds"], std::vector<std::string>{"sub\\pak_x.dat"});
}

TEST_F(AddArchiveUpdateTest, PayloadBodyLongerThanTheContentsIsStoredUnchanged) {
    const std::string stream = *vfile::zlibCompress("ab");  // longer than 2 bytes
    ASSERT_GT(stream.size(), 2u);
    ASSERT_TRUE(add(payloadWithBody(stream, 2), "worlds/pak_tiny.dat"));
    EXPECT_EQ(stored(updates["worlds"][0]), (vfile::StoredEntry{stream, 2}));
}

TEST_F(AddArchiveUpdateTest, PayloadBodyAsLongAsTheContentsIsStoredAnew) {
    const auto [contents, stream] = test::contentsAsLongAsTheirZlibStream();
    ASSERT_FALSE(contents.empty()) << "no contents of that kind found";
    ASSERT_TRUE(add(payloadWithBody(stream, static_cast<std::uint32_t>(contents.size())), "scripts/pak_s.lua"));
    const vfile::StoredEntry entry = stored(updates["scripts"][0]);
    EXPECT_EQ(entry, *vfile::compressEntry(contents));
    EXPECT_EQ(vfile::expandStoredEntry(entry.bytes, entry.originalSize), contents);
}

TEST_F(AddArchiveUpdateTest, CorruptPayloadsAreRefused) {
    const std::string good = test::singleFilePayload(std::string(100, 'g'));
    std::string wrongMagic = good;
    wrongMagic[0] = 'X';
    const std::string sixteen = good.substr(0, 16);
    const std::string shortBody = payloadWithBody(*vfile::zlibCompress(std::string(100, 'g')), 101);
    const std::string bomb = payloadWithBody(*vfile::zlibCompress(std::string(1 << 20, 'b')), (1u << 20) + 1);
    for (const std::string& bad : {wrongMagic, sixteen, shortBody, bomb}) {
        EXPECT_FALSE(add(bad, "sound/pak_s.wav"));
        EXPECT_EQ(status, StagingStatus::Failed);
    }
    EXPECT_TRUE(updates.empty());
    EXPECT_TRUE(removals.empty());
}

TEST_F(AddArchiveUpdateTest, UnreadableStagedFileIsRefusedWithItsPath) {
    const ManifestEntry entry{"sound/pak_s.wav", "x"};
    EXPECT_FALSE(addStagedArchiveUpdate(dir / "missing", entry, *classifyArchivePath(entry.relative), updates,
                                        removals, error));
    EXPECT_EQ(error, u"Invalid single-file PAK payload: sound/pak_s.wav");
}

TEST(BuildManifestMemberSetTest, KeysEveryArchiveMemberWhateverTheMode) {
    PatchManifest manifest;
    manifest.files = {{"Gfx/UI/A.dds", ""}, {"gfx\\pak_b.dds", ""}, {"ini/user.ini", ""}, {"worlds/x", ""}};
    const ManifestMemberSet members = buildManifestMemberSet(manifest);
    EXPECT_EQ(members, (ManifestMemberSet{{"gfx", {"ui\\a.dds", "b.dds"}}, {"worlds", {"x"}}}));
}

class ArchiveInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LogFile::open(logDir.path()));
        PatchEventRecorder::clear();
        setPatchCallbacks(&PatchEventRecorder::onStatus, &PatchEventRecorder::onProgress);
    }
    void TearDown() override {
        setPatchCallbacks(nullptr, nullptr);
        LogFile::close();
    }

    std::string pak(std::string_view name) const { return (install.path() / (std::string(name) + ".pak")).string(); }
    std::vector<std::string> logTail() const {
        auto lines = test::logMessages(logDir.path());
        lines.erase(lines.begin());  // "launcher.log opened"
        return lines;
    }
    static std::vector<std::string> names(const std::filesystem::path& path) {
        std::vector<std::string> out;
        const auto archive = vfile::Archive::open(path);
        if (archive)
            for (const auto& e : archive->listEntries()) out.push_back(e.name);
        return out;
    }

    TempDir install{"archives"};
    TempDir logDir{"archives-log"};
};

TEST_F(ArchiveInstallTest, OrphansAreEntriesTheManifestDoesNotList) {
    writeGameArchive(install / "gfx.pak", {{"a", "1"}, {"Old\\B", "2"}, {"c", "3"}});
    writeGameArchive(install / "sound.pak", {{"s", "4"}});
    test::writeFile(install / "worlds.pak", "corrupt");
    const ManifestMemberSet members{{"gfx", {"a", "c"}}, {"worlds", {"x"}}};
    ArchiveRemovals removals{{"gfx", {"queued"}}};
    ArchiveCache archives;
    findOrphanEntries(install.path(), members, archives, removals);
    EXPECT_EQ(removals, (ArchiveRemovals{{"gfx", {"queued", "old\\b"}}, {"sound", {"s"}}}));
}

TEST_F(ArchiveInstallTest, LogLineNamesTheArchiveAndCountsItsChanges) {
    const auto path = install.path() / "gfx.pak";
    const std::u16string prefix = u"Updating archive: " + toWide(path.string());
    EXPECT_EQ(archiveUpdateLogLine(path, 0, 1), prefix + u" (removing 1 orphan entry)");
    EXPECT_EQ(archiveUpdateLogLine(path, 0, 4), prefix + u" (removing 4 orphan entries)");
    EXPECT_EQ(archiveUpdateLogLine(path, 1, 0), prefix + u" (1 entry)");
    EXPECT_EQ(archiveUpdateLogLine(path, 3, 2), prefix + u" (3 entries, 2 removed)");
    EXPECT_EQ(archiveUpdateLogLine(path, 1, 1), prefix + u" (1 entry, 1 removed)");
}

TEST_F(ArchiveInstallTest, EachArchiveIsRewrittenOnceWithAllItsChanges) {
    writeGameArchive(install / "gfx.pak", {{"a", "old"}, {"b", "b"}, {"orphan1", "o"}, {"orphan2", "o"}});
    writeGameArchive(install / "terrain.pak", {{"t", "t"}, {"gone", "g"}});
    const vfile::StoredEntry a = *vfile::compressEntry("new"), c = *vfile::compressEntry("c"),
                             d = *vfile::compressEntry("d"), m = *vfile::compressEntry("m");
    ArchiveUpdates updates;
    updates["gfx"] = {vfile::EntrySource::inMemory("a", a), vfile::EntrySource::inMemory("c", c),
                      vfile::EntrySource::inMemory("D", d)};
    updates["models"] = {vfile::EntrySource::inMemory("m", m)};
    const ArchiveRemovals removals{{"gfx", {"orphan1", "orphan2"}}, {"terrain", {"gone"}}};
    std::int32_t done = 1;
    std::u16string error;
    ASSERT_TRUE(updateArchives(nullptr, install.path(), updates, removals, done, 4, error));
    EXPECT_EQ(done, 4);
    EXPECT_EQ(error, u"");
    EXPECT_EQ(names(install / "gfx.pak"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(*vfile::Archive::open(install / "gfx.pak")->readEntry("a"), "new");
    EXPECT_EQ(names(install / "models.pak"), std::vector<std::string>{"m"});
    EXPECT_EQ(names(install / "terrain.pak"), std::vector<std::string>{"t"});
    EXPECT_EQ(logTail(), (std::vector<std::string>{"Updating archive: " + pak("gfx") + " (3 entries, 2 removed)",
                                                   "Updating archive: " + pak("models") + " (1 entry)",
                                                   "Updating archive: " + pak("terrain") +
                                                       " (removing 1 orphan entry)"}));
    EXPECT_EQ(PatchEventRecorder::events(),
              (std::vector<std::string>{"progress: 2/4", "progress: 3/4", "progress: 4/4"}));
}

TEST_F(ArchiveInstallTest, AnArchiveLeftWithoutEntriesIsDeleted) {
    writeGameArchive(install / "gfx.pak", {{"a", "1"}});
    const ArchiveRemovals removals{{"gfx", {"a"}}};
    std::int32_t done = 0;
    std::u16string error;
    ASSERT_TRUE(updateArchives(nullptr, install.path(), {}, removals, done, 1, error)) << toUtf8(error);
    EXPECT_FALSE(std::filesystem::exists(install / "gfx.pak"));
    EXPECT_EQ(done, 1);
}

TEST_F(ArchiveInstallTest, AnArchiveThatCannotBeWrittenDoesNotStopTheOthers) {
    std::filesystem::create_directories(install / "gfx.pak" / "in the way");
    writeGameArchive(install / "sound.pak", {{"s", "1"}});
    const vfile::StoredEntry one = *vfile::compressEntry("new");
    ArchiveUpdates updates;
    updates["gfx"] = {vfile::EntrySource::inMemory("a", one)};
    updates["sound"] = {vfile::EntrySource::inMemory("s", one)};
    std::int32_t done = 0;
    std::u16string error;
    EXPECT_FALSE(updateArchives(nullptr, install.path(), updates, {}, done, 2, error));
    EXPECT_EQ(error, u"Failed to write archive: " + toWide(pak("gfx")));
    EXPECT_EQ(done, 1);
    const auto sound = vfile::Archive::open(install / "sound.pak");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->readEntry("s"), "new");
}


TEST(RemoveLegacyStateFilesTest, DeletesBothFilesAndIgnoresWhatIsAbsent) {
    TempDir install{"legacy"};
    test::writeFile(install / ".mendly-vfile-state.json", "{}");
    removeLegacyStateFiles(install.path());
    EXPECT_FALSE(std::filesystem::exists(install / ".mendly-vfile-state.json"));
    test::writeFile(install / ".mendly-vfile-state.json.part", "{");
    test::writeFile(install / "keep.json", "{}");
    removeLegacyStateFiles(install.path());
    EXPECT_FALSE(std::filesystem::exists(install / ".mendly-vfile-state.json.part"));
    EXPECT_TRUE(std::filesystem::exists(install / "keep.json"));
    removeLegacyStateFiles(install / "does-not-exist");
}

}  // namespace
}  // namespace mendly
