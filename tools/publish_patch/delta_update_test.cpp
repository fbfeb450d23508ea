// Update runs against a publication with deltas: a player one release
// behind fetches the deltas and rebuilds the changed files from what is
// installed; a delta that does not work out is replaced by the whole file in
// the same run.
#include <gtest/gtest.h>

#include <algorithm>

#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "patch/cancel_flag.h"
#include "patch/manifest.h"
#include "patch/patch_run.h"
#include "patch/vfile/archive.h"
#include "patch/vfile/delta_codec.h"
#include "publish.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"
#include "support/test_signing.h"
#include "signing_key.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

std::string rows(unsigned count, unsigned salt) {
    std::string out;
    for (unsigned i = 0; i < count; ++i) out += "row " + std::to_string((i * 2654435761u + salt) % 1000003u) + "\n";
    return out;
}

class DeltaUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vfile::deltaCodecAvailable()) GTEST_SKIP() << "no delta codec in this build";
        resetPatchCancel();
        ASSERT_TRUE(LogFile::open(logDir.path()));
        server.serveFolder(hostDir.path(), "/");
        table = rows(20000, 1);
        member = rows(15000, 2);
        publish("K-1");
        ASSERT_TRUE(run(PatchMode::Install)) << toUtf8(error);
    }
    void TearDown() override { LogFile::close(); }

    void publish(const std::string& version, const signing::SigningKey* key = nullptr) {
        fs::remove_all(client.path());
        writeFile(client / "_version._", version + "\r\n");
        writeFile(client / "data/table.txt", table);
        writeFile(client / "gfx/ui/a.txt", member);
        writeFile(client / "data/other.txt", "unchanged");
        publish::PublishOptions options;
        options.force = true;
        options.signingKey = key;
        std::string failure;
        ASSERT_TRUE(publish::publishClient(client.path(), "aurum", hostDir.path(), options, failure)) << failure;
    }
    bool run(PatchMode mode, const TrustedKeys& trust = {}) {
        error.clear();
        return runPatch(nullptr, server.wideUrl("/aurum.manifest"), server.wideUrl("/aurum/"), trust, install.path(),
                        mode, error);
    }
    ManifestEntry listed(const std::string& relative) const {
        PatchManifest manifest;
        std::u16string parseError;
        EXPECT_TRUE(parseManifest(readFile(hostDir / "aurum.manifest"), manifest, parseError));
        for (const ManifestEntry& entry : manifest.files)
            if (entry.relative == relative) return entry;
        ADD_FAILURE() << relative;
        return {};
    }
    std::size_t fetchesOf(const ManifestEntry& entry) const { return server.requestCount("/aurum/" + entry.served); }
    bool logged(const std::string& text) const {
        const auto lines = test::logMessages(logDir.path());
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
    std::string installedMember() const {
        return *vfile::Archive::open(install / "gfx.pak")->readEntry("ui\\a.txt");
    }

    test::TempDir client{"delta-client"}, hostDir{"delta-host"}, install{"delta-install"}, logDir{"delta-log"};
    test::LoopbackServer server;
    std::string table, member;
    std::u16string error;
};

TEST_F(DeltaUpdateTest, ChangedFilesAreRebuiltFromDeltasAndNotFetchedWhole) {
    table.replace(5000, 5, "EDIT!");
    member.insert(100, "inserted row\n");
    publish("K-2");
    const ManifestEntry loose = listed("data/table.txt"), inArchive = listed("gfx/ui/a.txt");
    ASSERT_EQ(loose.deltas.size(), 1u);
    ASSERT_EQ(inArchive.deltas.size(), 1u);

    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(readFile(install / "data/table.txt"), table);
    EXPECT_EQ(installedMember(), member);
    EXPECT_EQ(fetchesOf(loose) + fetchesOf(inArchive), 0u);
    EXPECT_EQ(server.requestCount("/aurum/" + loose.deltas[0].path), 1u);
    EXPECT_TRUE(logged("Rebuilt from a delta: data/table.txt"));
    EXPECT_TRUE(logged("Rebuilt from a delta: gfx/ui/a.txt"));
    // What the run wrote is what the record vouches for: the next run reads nothing.
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(fetchesOf(loose), 0u);
}

// A delta that is not what the manifest lists, and one whose base the
// installation no longer holds: the whole file, in the same run.
TEST_F(DeltaUpdateTest, ADamagedDeltaOrAChangedBaseFallsBackToTheWholeFile) {
    table.replace(7000, 5, "EDIT!");
    member.erase(200, 30);
    publish("K-2");
    const ManifestEntry loose = listed("data/table.txt"), inArchive = listed("gfx/ui/a.txt");
    ASSERT_EQ(loose.deltas.size(), 1u);
    std::string damaged = readFile(hostDir / "aurum" / loose.deltas[0].path);
    damaged[damaged.size() / 2] ^= 0x40;
    writeFile(hostDir / "aurum" / loose.deltas[0].path, damaged);
    // The archive changed behind the record: its member is no base any more.
    test::writeGameArchive(install / "gfx.pak", {{"ui\\a.txt", "edited by hand"}});

    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(readFile(install / "data/table.txt"), table);
    EXPECT_EQ(installedMember(), member);
    EXPECT_EQ(fetchesOf(loose), 1u);
    EXPECT_TRUE(logged("Delta not used for data/table.txt (the delta is not the one listed); fetching it whole"));
    EXPECT_EQ(fetchesOf(inArchive), 1u);
    EXPECT_FALSE(logged("Rebuilt from a delta: gfx/ui/a.txt"));
}

// The deltas are part of what the signature covers: a host that points an
// entry at another delta (here: the delta of another file) is refused
// before anything is fetched.
TEST_F(DeltaUpdateTest, ASignedManifestsDeltasCannotBeChanged) {
    TrustedKeys trust;
    trust.required = true;
    trust.keys.push_back(test::testSigningKey().publicKey());
    publish("K-1", &test::testSigningKey());
    ASSERT_TRUE(run(PatchMode::Update, trust)) << toUtf8(error);
    table.replace(3000, 5, "EDIT!");
    member.insert(50, "x");
    publish("K-2", &test::testSigningKey());
    const ManifestEntry loose = listed("data/table.txt"), inArchive = listed("gfx/ui/a.txt");
    ASSERT_EQ(loose.deltas.size(), 1u);
    std::string text = readFile(hostDir / "aurum.manifest");
    const auto at = text.find(loose.deltas[0].path);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, loose.deltas[0].path.size(), inArchive.deltas[0].path);
    writeFile(hostDir / "aurum.manifest", text);

    EXPECT_FALSE(run(PatchMode::Update, trust));
    EXPECT_NE(toUtf8(error).find("signature"), std::string::npos) << toUtf8(error);
    EXPECT_EQ(server.requestCount("/aurum/" + inArchive.deltas[0].path), 0u);
    EXPECT_EQ(readFile(install / "data/table.txt").find("EDIT!"), std::string::npos);
}

}  // namespace
}  // namespace mendly
