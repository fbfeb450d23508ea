#include "patch/local_verification.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>

#include "hash/digest.h"
#include "patch/archive_paths.h"
#include "patch/cancel_flag.h"
#include "patch/patch_reporting.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/single_file_payload.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using test::PatchEventRecorder;
using test::TempDir;
using test::writeFile;
using test::writeGameArchive;

class VerifyEntryTest : public ::testing::Test {
protected:
    TempDir install{"verify"};
    ArchiveCache cache;

    static ManifestEntry entry(std::string relative, std::string_view contents) {
        return {std::move(relative), md5Hex(contents)};
    }
};

TEST_F(VerifyEntryTest, LooseFileWithTheManifestDigestMatches) {
    writeFile(install / "data/readme.txt", "hello");
    EXPECT_TRUE(verifyEntry(entry("data\\readme.txt", "hello"), install.path(), cache));
    EXPECT_FALSE(verifyEntry(entry("data/readme.txt", "hello!"), install.path(), cache));
}

TEST_F(VerifyEntryTest, UppercaseManifestDigestMatchesTheComputedOne) {
    writeFile(install / "Kaltris.exe", "binary");
    std::string upper = md5Hex("binary");
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    ASSERT_NE(upper, md5Hex("binary"));
    EXPECT_TRUE(verifyEntry({"Kaltris.exe", upper}, install.path(), cache));
}

TEST_F(VerifyEntryTest, MissingLooseFileOrAFolderInItsPlaceNeedsPatching) {
    EXPECT_FALSE(verifyEntry(entry("missing.txt", ""), install.path(), cache));
    std::filesystem::create_directories(install / "folder.txt");
    EXPECT_FALSE(verifyEntry(entry("folder.txt", ""), install.path(), cache));
    // A file where a folder of the path should be: the query fails, counts as missing.
    writeFile(install / "data", "not a folder");
    EXPECT_FALSE(verifyEntry(entry("data/x.txt", ""), install.path(), cache));
}

TEST_F(VerifyEntryTest, ArchiveMemberIsComparedByItsContents) {
    writeGameArchive(install / "gfx.pak", {{"ui\\a.dds", "pixels"}, {"ui\\b.dds", std::string(5000, 'b')}});
    EXPECT_TRUE(verifyEntry(entry("gfx/ui/a.dds", "pixels"), install.path(), cache));
    EXPECT_TRUE(verifyEntry(entry("GFX\\UI\\B.DDS", std::string(5000, 'b')), install.path(), cache));
    EXPECT_FALSE(verifyEntry(entry("gfx/ui/a.dds", "other pixels"), install.path(), cache));
    EXPECT_FALSE(verifyEntry(entry("gfx/ui/c.dds", ""), install.path(), cache));
}

TEST_F(VerifyEntryTest, MissingArchiveMakesEveryMemberNeedPatching) {
    EXPECT_FALSE(verifyEntry(entry("worlds/x.dat", "x"), install.path(), cache));
    // A failed open is remembered for the rest of the run.
    writeGameArchive(install / "worlds.pak", {{"x.dat", "x"}});
    EXPECT_FALSE(verifyEntry(entry("worlds/x.dat", "x"), install.path(), cache));
    ArchiveCache fresh;
    EXPECT_TRUE(verifyEntry(entry("worlds/x.dat", "x"), install.path(), fresh));
}

TEST_F(VerifyEntryTest, ArchiveWithAnUppercaseStoredNameNeverMatches) {
    // The writer lowers names, so the uppercase name is patched into the bytes.
    writeGameArchive(install / "models.pak", {{"tree.mdl", "tree"}, {"rock.mdl", "rock"}});
    std::string bytes = test::readFile(install / "models.pak");
    const auto at = bytes.find("tree.mdl");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'T';
    writeFile(install / "models.pak", bytes);
    EXPECT_FALSE(verifyEntry(entry("models/tree.mdl", "tree"), install.path(), cache));
    EXPECT_FALSE(verifyEntry(entry("models/rock.mdl", "rock"), install.path(), cache));
}

TEST_F(VerifyEntryTest, PakMemberIsComparedAsThePayloadRebuiltFromItsStoredBytes) {
    const std::string contents(3000, 'q');
    const std::string payload = test::singleFilePayload(contents);
    const auto stored = vfile::parseSingleFilePayload(payload);
    ASSERT_TRUE(stored);
    ASSERT_TRUE(vfile::writeArchiveFile(install / "worlds.pak", std::vector<vfile::NamedEntry>{{"sub\\x.dat", *stored}}));
    EXPECT_TRUE(verifyEntry({"worlds/sub/pak_x.dat", md5Hex(payload)}, install.path(), cache));
    // The plain contents' digest is not what the manifest lists for a pak_ file.
    EXPECT_FALSE(verifyEntry({"worlds/sub/pak_x.dat", md5Hex(contents)}, install.path(), cache));
}

// Where the manifest names a SHA-256, the MD5 alone is not enough: a file,
// member or payload with the right MD5 and another SHA-256 needs patching.
TEST_F(VerifyEntryTest, ANamedSha256MustMatchBesideTheMd5) {
    writeFile(install / "Kaltris.exe", "binary");
    writeGameArchive(install / "gfx.pak", {{"ui\\a.dds", "pixels"}});
    const std::string payload = test::singleFilePayload(std::string(3000, 'q'));
    ASSERT_TRUE(vfile::writeArchiveFile(install / "worlds.pak",
                                        std::vector<vfile::NamedEntry>{{"x.dat", *vfile::parseSingleFilePayload(payload)}}));
    const struct {
        const char* relative;
        std::string served;
    } cases[] = {{"Kaltris.exe", "binary"}, {"gfx/ui/a.dds", "pixels"}, {"worlds/pak_x.dat", payload}};
    for (const auto& c : cases) {
        ManifestEntry named{c.relative, md5Hex(c.served)};
        named.sha256 = sha256Hex(c.served);
        EXPECT_TRUE(verifyEntry(named, install.path(), cache)) << c.relative;
        named.sha256 = sha256Hex("a collision twin");
        EXPECT_FALSE(verifyEntry(named, install.path(), cache)) << c.relative;
    }
}

TEST_F(VerifyEntryTest, CorruptArchiveMakesItsMembersNeedPatching) {
    writeFile(install / "sound.pak", std::string("\xDE\x8C\x45\x3D\x05\x00\x00\x00", 8));
    EXPECT_FALSE(verifyEntry(entry("sound/a.wav", "a"), install.path(), cache));
}

TEST(ArchiveCacheTest, OpensEachArchiveOnceAndSharesIt) {
    TempDir install{"cache"};
    writeGameArchive(install / "gfx.pak", {{"a", "1"}});
    ArchiveCache cache;
    const auto first = cache.get(install / "gfx.pak");
    ASSERT_TRUE(first);
    std::filesystem::remove(install / "gfx.pak");
    EXPECT_EQ(cache.get(install / "gfx.pak"), first);
    EXPECT_EQ(cache.get(install / "terrain.pak"), nullptr);
}

// Workers asking for the same archives at once all get the one copy of each.
TEST(ArchiveCacheTest, ThreadsAskingAtOnceShareOneOpeningPerArchive) {
    TempDir install{"cache-threads"};
    writeGameArchive(install / "gfx.pak", {{"a", "1"}});
    writeGameArchive(install / "sound.pak", {{"b", "2"}});
    ArchiveCache cache;
    std::vector<std::shared_ptr<const vfile::Archive>> seen(8);
    {
        std::vector<std::jthread> workers;
        for (std::size_t i = 0; i < seen.size(); ++i)
            workers.emplace_back([&, i] { seen[i] = cache.get(install / (i % 2 ? "sound.pak" : "gfx.pak")); });
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
        ASSERT_TRUE(seen[i]);
        EXPECT_EQ(seen[i], seen[i % 2]);
    }
    EXPECT_NE(seen[0], seen[1]);
}

class VerifyLocalFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetPatchCancel();
        PatchEventRecorder::clear();
        setPatchCallbacks(nullptr, &PatchEventRecorder::onProgress);
    }
    void TearDown() override {
        setPatchCallbacks(nullptr, nullptr);
        resetPatchCancel();
    }

    // `count` entries of which none exists on disk.
    static PatchManifest missingFiles(std::size_t count) {
        PatchManifest manifest;
        for (std::size_t i = 0; i < count; ++i) manifest.files.push_back({"f" + std::to_string(i), md5Hex("x")});
        return manifest;
    }
    static std::vector<std::size_t> all(const PatchManifest& manifest) {
        std::vector<std::size_t> indices(manifest.files.size());
        for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = i;
        return indices;
    }
    // The reports as they arrived: each a multiple of `step` (or the total),
    // each above the one before (workers finish out of order, the reports
    // never step back), the last one total/total.
    static void expectRisingReportsTo(int total, int step) {
        int last = 0;
        for (const std::string& event : PatchEventRecorder::events()) {
            ASSERT_EQ(event.substr(event.find('/')), "/" + std::to_string(total)) << event;
            const int done = std::stoi(event.substr(10));
            EXPECT_GT(done, last) << event;
            EXPECT_TRUE(done % step == 0 || done == total) << event;
            last = done;
        }
        EXPECT_EQ(last, total);
    }

    // The indices that need patching, without a record.
    std::vector<std::size_t> check(const PatchManifest& manifest, const std::vector<std::size_t>& selected) {
        return verifyLocalFiles(manifest, selected, install.path(), nullptr, cache, nullptr, stamps).needPatching;
    }

    TempDir install{"verify-all"};
    ArchiveCache cache;
    HolderStamps stamps;
};

TEST_F(VerifyLocalFilesTest, ReturnsExactlyTheEntriesThatDiffer) {
    PatchManifest manifest;
    manifest.files = {{"a.txt", md5Hex("a")}, {"b.txt", md5Hex("b")}, {"gfx/c", md5Hex("c")}, {"gfx/d", md5Hex("d")}};
    writeFile(install / "a.txt", "a");
    writeFile(install / "b.txt", "changed");
    writeGameArchive(install / "gfx.pak", {{"c", "c"}});
    std::vector<std::size_t> result = check(manifest, {0, 1, 2, 3});
    std::sort(result.begin(), result.end());
    EXPECT_EQ(result, (std::vector<std::size_t>{1, 3}));
    // Only the selected entries are looked at.
    EXPECT_TRUE(check(manifest, {0, 2}).empty());
}

// Entries are hashed up to eight at a time on a worker, in pieces of
// different lengths: every kind of entry still gets the verdict it gets
// checked alone.
TEST_F(VerifyLocalFilesTest, EntriesHashedSideBySideGetTheVerdictsTheyGetAlone) {
    std::mt19937 rng(5);
    const auto noise = [&rng](std::size_t size) {
        std::string bytes(size, '\0');
        for (auto& c : bytes) c = static_cast<char>(rng());
        return bytes;
    };
    struct Case {
        std::string relative, onDisk, served;
        bool namedSha256 = false, shaOfOther = false;
    };
    std::vector<Case> cases;
    for (const std::size_t size : {0u, 1u, 63u, 64u, 65u, 1000u, (1u << 20) + 1, 3u << 20}) {
        const std::string bytes = noise(size);
        cases.push_back({"f" + std::to_string(size), bytes, bytes, size % 2 == 0});
        if (size > 0) cases.push_back({"g" + std::to_string(size), bytes, bytes.substr(1) + "!", size % 2 == 1});
    }
    cases.push_back({"twin.exe", "binary", "binary", true, true});
    const std::string text(40000, 't'), randomSmall = noise(20000), randomLarge = noise((5u << 20) / 2);
    cases.push_back({"gfx/text", text, text, true});
    cases.push_back({"gfx/small", randomSmall, randomSmall});
    cases.push_back({"gfx/large", randomLarge, randomLarge, true});
    cases.push_back({"gfx/changed", text, text + "x"});
    cases.push_back({"gfx/missing", "", "absent"});
    const std::string payload = test::singleFilePayload(std::string(3000, 'q'));
    cases.push_back({"worlds/pak_x.dat", payload, payload});
    std::filesystem::create_directories(install / "folder");
    cases.push_back({"folder", "", "a file"});

    std::vector<std::pair<std::string, std::string>> members;
    PatchManifest manifest;
    std::vector<std::size_t> expected;
    for (const Case& c : cases) {
        const bool member = c.relative.starts_with("gfx/") && c.relative != "gfx/missing";
        if (member) members.emplace_back(c.relative.substr(4), c.onDisk);
        const bool loose = c.relative.find('/') == std::string::npos && c.relative != "folder";
        if (loose) writeFile(install / c.relative, c.onDisk);
        ManifestEntry entry{c.relative, md5Hex(c.served)};
        if (c.namedSha256) entry.sha256 = sha256Hex(c.shaOfOther ? "a collision twin" : c.served);
        if (c.onDisk != c.served || c.shaOfOther || c.relative == "folder") expected.push_back(manifest.files.size());
        manifest.files.push_back(entry);
    }
    writeGameArchive(install / "gfx.pak", members);
    const std::vector<vfile::NamedEntry> payloadMember{{"x.dat", *vfile::parseSingleFilePayload(payload)}};
    ASSERT_TRUE(vfile::writeArchiveFile(install / "worlds.pak", payloadMember));

    std::vector<std::size_t> result = check(manifest, all(manifest));
    std::sort(result.begin(), result.end());
    EXPECT_EQ(result, expected);
    for (std::size_t i = 0; i < manifest.files.size(); ++i) {
        const bool differs = std::binary_search(expected.begin(), expected.end(), i);
        EXPECT_EQ(verifyEntry(manifest.files[i], install.path(), cache), !differs) << manifest.files[i].relative;
    }
}

TEST_F(VerifyLocalFilesTest, With250EntriesProgressComesEverySecondEntry) {
    const PatchManifest manifest = missingFiles(250);
    EXPECT_EQ(check(manifest, all(manifest)).size(), 250u);
    expectRisingReportsTo(250, 2);
}

TEST_F(VerifyLocalFilesTest, With150EntriesProgressComesForEveryEntry) {
    const PatchManifest manifest = missingFiles(150);
    EXPECT_EQ(check(manifest, all(manifest)).size(), 150u);
    expectRisingReportsTo(150, 1);
}

TEST_F(VerifyLocalFilesTest, NothingSelectedChecksNothing) {
    const PatchManifest manifest = missingFiles(3);
    EXPECT_TRUE(check(manifest, {}).empty());
    EXPECT_TRUE(PatchEventRecorder::events().empty());
}

void cancelAtFirstProgress(std::int32_t, std::int32_t) { requestPatchCancel(); }

TEST_F(VerifyLocalFilesTest, CancelStopsTheWorkersAfterTheEntryInHand) {
    setPatchCallbacks(nullptr, &cancelAtFirstProgress);
    const PatchManifest manifest = missingFiles(5000);  // step 50
    const auto result = check(manifest, all(manifest));
    EXPECT_GE(result.size(), 50u);
    EXPECT_LT(result.size(), 50u + 2 * std::thread::hardware_concurrency() + 50u);
}

TEST_F(VerifyLocalFilesTest, CancelBeforeTheStageChecksNothing) {
    requestPatchCancel();
    const PatchManifest manifest = missingFiles(10);
    EXPECT_TRUE(check(manifest, all(manifest)).empty());
}


}  // namespace
}  // namespace mendly
