// Publishing a client and fetching it back over loopback HTTP the way a
// patch run does: parse the manifest, fetch every file at its fileUrl and
// compare digests; plus the payload form, the refusals and the program.
#include "publish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "hash/digest.h"
#include "log/text.h"
#include "net/http_client.h"
#include "patch/archive_paths.h"
#include "patch/manifest.h"
#include "patch/vfile/archive.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/single_file_payload.h"
#include "support/loopback_server.h"
#include "support/process_runner.h"
#include "support/sample_client.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using mendly::publish::PublishOptions;
using mendly::publish::publishClient;
using mendly::publish::PublishSummary;
using mendly::test::readFile;
using mendly::test::TempDir;
using mendly::test::writeFile;

class PublishTest : public ::testing::Test {
protected:
    fs::path client() const { return dir / "client"; }
    fs::path root() const { return dir / "host"; }

    // A generated client with two packed archives and one folder archive.
    void makeClient(std::uint64_t seed = 3) {
        mendly::test::SampleClientOptions options;
        options.totalBytes = 3u << 20;
        options.members = 60;
        options.seed = seed;
        options.packedArchives = {"gfx", "worlds"};
        options.folderArchives = {"scripts"};
        std::string error;
        ASSERT_TRUE(mendly::test::makeSampleClient(client(), options, generated, error)) << error;
    }

    bool publish(const PublishOptions& options = fixedStamp()) {
        error.clear();
        return publishClient(client(), "aurum", root(), options, summary, error);
    }

    static PublishOptions fixedStamp() {
        PublishOptions options;
        options.generated = "2024-01-02T03:04:05Z";
        return options;
    }

    mendly::PatchManifest manifest() {
        mendly::PatchManifest parsed;
        std::u16string parseError;
        EXPECT_TRUE(mendly::parseManifest(readFile(root() / "aurum.manifest"), parsed, parseError))
            << mendly::toUtf8(parseError);
        return parsed;
    }

    std::map<std::string, std::string> md5ByPath() {
        std::map<std::string, std::string> out;
        for (const auto& entry : manifest().files) out[entry.relative] = entry.md5;
        return out;
    }

    // The served bytes of a manifest entry, fetched as a patch run does.
    std::string fetch(const mendly::ManifestEntry& entry) {
        std::string body;
        std::u16string fetchError;
        const std::u16string url = mendly::fileUrl(server.wideUrl("/aurum/"), entry);
        EXPECT_TRUE(mendly::httpGet(url, body, fetchError)) << mendly::toUtf8(url) << ": " << mendly::toUtf8(fetchError);
        return body;
    }

    TempDir dir{"publish"};
    mendly::test::LoopbackServer server;
    mendly::test::SampleClientSummary generated;
    PublishSummary summary;
    std::string error;
};

TEST_F(PublishTest, EveryListedFileIsServedWithTheListedDigest) {
    makeClient();
    ASSERT_TRUE(publish()) << error;
    server.serveFolder(root());

    const auto parsed = manifest();
    EXPECT_EQ(parsed.generated, "2024-01-02T03:04:05Z");
    ASSERT_EQ(parsed.files.size(), summary.looseFiles + summary.plainMembers + summary.payloads);
    EXPECT_EQ(summary.looseFiles, generated.looseFiles);
    EXPECT_EQ(summary.plainMembers, 60u);
    EXPECT_EQ(summary.payloads, 0u);
    for (const auto& entry : parsed.files) EXPECT_EQ(mendly::md5Hex(fetch(entry)), entry.md5) << entry.relative;

    std::string version;
    std::u16string versionError;
    ASSERT_TRUE(mendly::httpGet(server.wideUrl("/aurum/_version._"), version, versionError));
    EXPECT_EQ(version, "Kaltris Nexum-2.5.3\r\n");
}

TEST_F(PublishTest, MembersOfPackedAndFolderArchivesArePublishedUnderLowercaseNames) {
    makeClient();
    ASSERT_TRUE(publish()) << error;
    const auto listed = md5ByPath();

    const auto gfx = mendly::vfile::Archive::open(client() / "gfx.pak");
    ASSERT_TRUE(gfx);
    ASSERT_FALSE(gfx->entries().empty());
    for (const auto& entry : gfx->entries()) {
        std::string relative = "gfx/" + entry.key;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        ASSERT_EQ(listed.count(relative), 1u) << relative;
        const auto contents = gfx->readEntry(entry);
        ASSERT_TRUE(contents);
        EXPECT_EQ(listed.at(relative), mendly::md5Hex(*contents));
        EXPECT_TRUE(readFile(root() / "aurum" / relative) == *contents) << relative;
    }

    // The folder form keeps capitals on disk; the host lists the archive key.
    const fs::path capitals = client() / "scripts" / "Ui" / "item_0.XML";
    ASSERT_TRUE(fs::exists(capitals));
    EXPECT_EQ(listed.count("scripts/ui/item_0.xml"), 1u);
    EXPECT_EQ(listed.count("scripts/Ui/item_0.XML"), 0u);
    EXPECT_EQ(listed.at("scripts/ui/item_0.xml"), mendly::md5FileHex(capitals));

    // Loose files keep their names; ".pak" files themselves are not published.
    EXPECT_EQ(listed.count("kaltrisclient.exe"), 1u);
    EXPECT_EQ(listed.count("ini/updater.ini"), 1u);
    EXPECT_EQ(listed.count("gfx.pak"), 0u);
    EXPECT_FALSE(fs::exists(root() / "aurum" / "gfx.pak"));
}

TEST_F(PublishTest, ManifestIsSortedTwoSpaceIndentedWithoutFinalLineFeed) {
    writeFile(client() / "_version._", "1.0");
    writeFile(client() / "b.txt", "hello");
    writeFile(client() / "Gfx" / "B.txt", "abc");
    writeFile(client() / "ini" / "user.ini", "[user]\nname=x\n");
    ASSERT_TRUE(publish()) << error;

    EXPECT_EQ(readFile(root() / "aurum.manifest"),
              "{\n"
              "  \"files\": [\n"
              "    {\n"
              "      \"md5\": \"e4c2e8edac362acab7123654b9e73432\",\n"
              "      \"relative\": \"_version._\",\n"
              "      \"served\": \"by-sha256/d0/d0ff5974b6aa52cf562bea5921840c032a860a91a3512f7fe8f768f6bbe005f6\",\n"
              "      \"sha256\": \"d0ff5974b6aa52cf562bea5921840c032a860a91a3512f7fe8f768f6bbe005f6\",\n"
              "      \"size\": 3\n"
              "    },\n"
              "    {\n"
              "      \"md5\": \"5d41402abc4b2a76b9719d911017c592\",\n"
              "      \"relative\": \"b.txt\",\n"
              "      \"served\": \"by-sha256/2c/2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824\",\n"
              "      \"sha256\": \"2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824\",\n"
              "      \"size\": 5\n"
              "    },\n"
              "    {\n"
              "      \"md5\": \"900150983cd24fb0d6963f7d28e17f72\",\n"
              "      \"relative\": \"gfx/b.txt\",\n"
              "      \"served\": \"by-sha256/ba/ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\",\n"
              "      \"sha256\": \"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\",\n"
              "      \"size\": 3\n"
              "    },\n"
              "    {\n"
              "      \"md5\": \"034b226c4d50b11df8302d9883113471\",\n"
              "      \"relative\": \"ini/user.ini\",\n"
              "      \"served\": \"by-sha256/df/df9f0597ae03c4c41f7a39f6936c47b1e00c73de17d3d2f225a8694d7af855e2\",\n"
              "      \"sha256\": \"df9f0597ae03c4c41f7a39f6936c47b1e00c73de17d3d2f225a8694d7af855e2\",\n"
              "      \"size\": 14\n"
              "    }\n"
              "  ],\n"
              "  \"generated\": \"2024-01-02T03:04:05Z\",\n"
              "  \"release\": 1,\n"
              "  \"server\": \"aurum\"\n"
              "}");
    EXPECT_EQ(readFile(root() / "aurum" / "_version._"), "1.0");
    EXPECT_EQ(readFile(root() / "aurum" / "gfx" / "b.txt"), "abc");
}

TEST_F(PublishTest, EachPublicationRaisesTheReleaseUnlessOneIsGiven) {
    writeFile(client() / "_version._", "1.0");
    PublishOptions options = fixedStamp();
    options.force = true;
    ASSERT_TRUE(publish(options)) << error;
    EXPECT_EQ(manifest().release, 1u);
    ASSERT_TRUE(publish(options)) << error;
    EXPECT_EQ(manifest().release, 2u);
    options.release = 40;
    ASSERT_TRUE(publish(options)) << error;
    EXPECT_EQ(manifest().release, 40u);
    EXPECT_EQ(manifest().server, "aurum");
    EXPECT_EQ(manifest().files[0].sha256, mendly::sha256Hex("1.0"));
    EXPECT_EQ(manifest().expires, "");  // only a signed manifest expires
}

TEST_F(PublishTest, WithoutAStampTheManifestCarriesTheCurrentUtcTime) {
    writeFile(client() / "_version._", "1.0");
    ASSERT_TRUE(publish(PublishOptions{})) << error;
    const std::string generated = manifest().generated;
    ASSERT_EQ(generated.size(), 20u) << generated;
    EXPECT_EQ(generated[4], '-');
    EXPECT_EQ(generated[10], 'T');
    EXPECT_EQ(generated[19], 'Z');
    EXPECT_GE(generated.substr(0, 4), "2024");
}

class PublishPayloadTest : public PublishTest {};

TEST_F(PublishPayloadTest, ChosenMembersAreServedAsPayloadsAnInstalledClientRebuildsExactly) {
    makeClient();
    PublishOptions options = fixedStamp();
    options.payloadPatterns = {"gfx/*", "nothing/*"};
    ASSERT_TRUE(publish(options)) << error;
    EXPECT_EQ(summary.unmatchedPatterns, std::vector<std::string>{"nothing/*"});
    server.serveFolder(root());

    const auto gfx = mendly::vfile::Archive::open(client() / "gfx.pak");
    ASSERT_TRUE(gfx);
    std::size_t payloads = 0;
    std::size_t plain = 0;
    std::vector<mendly::vfile::NamedEntry> installed;
    std::vector<mendly::ManifestEntry> payloadEntries;
    for (const auto& entry : manifest().files) {
        const auto member = mendly::classifyArchivePath(entry.relative);
        if (!member || member->archiveName != "gfx") {
            EXPECT_EQ(entry.relative.find("/pak_"), std::string::npos) << entry.relative;
            continue;
        }
        const std::string served = fetch(entry);
        if (!member->hadPakPrefix) {
            // Stored raw (its stream would not be shorter): a payload body is
            // always a stream, so such a member travels as its contents.
            EXPECT_TRUE(mendly::vfile::compressEntry(served)->isRaw()) << entry.relative;
            ++plain;
            continue;
        }
        ++payloads;
        EXPECT_EQ(mendly::md5Hex(served), entry.md5);
        const auto stored = mendly::vfile::parseSingleFilePayload(served);
        const auto decoded = mendly::vfile::decodeSingleFilePayload(served);
        ASSERT_TRUE(stored && decoded) << entry.relative;
        EXPECT_TRUE(decoded == gfx->readEntry(member->memberPath)) << entry.relative;
        // A body as long as the contents would be stored anew by the client
        // and never verify; the publisher must not send one.
        EXPECT_NE(stored->bytes.size(), stored->originalSize) << entry.relative;
        installed.push_back({member->memberPath, *stored});
        payloadEntries.push_back(entry);
    }
    EXPECT_GT(payloads, 0u);
    EXPECT_EQ(payloads + plain, gfx->entries().size());
    EXPECT_EQ(summary.payloads, payloads);

    // What the client's verification does with the installed archive.
    const fs::path pak = dir / "installed" / "gfx.pak";
    ASSERT_TRUE(mendly::vfile::writeArchiveFile(pak, installed));
    const auto reopened = mendly::vfile::Archive::open(pak);
    ASSERT_TRUE(reopened);
    for (const auto& entry : payloadEntries) {
        const auto member = mendly::classifyArchivePath(entry.relative);
        const auto stored = reopened->readStored(member->memberPath);
        ASSERT_TRUE(stored);
        const auto rebuilt = mendly::vfile::buildSingleFilePayload(*stored);
        ASSERT_TRUE(rebuilt);
        EXPECT_EQ(mendly::md5Hex(*rebuilt), entry.md5) << entry.relative;
    }
}

TEST_F(PublishPayloadTest, AnEmptyMemberStaysAPlainFileEvenWhenEveryMemberIsAPayload) {
    writeFile(client() / "_version._", "1.0");
    writeFile(client() / "scripts" / "empty.lua", "");
    writeFile(client() / "scripts" / "main.lua", std::string(5000, 'a'));
    PublishOptions options = fixedStamp();
    options.payloadAll = true;
    ASSERT_TRUE(publish(options)) << error;
    const auto listed = md5ByPath();
    EXPECT_EQ(listed.at("scripts/empty.lua"), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(listed.count("scripts/pak_main.lua"), 1u);
    EXPECT_EQ(summary.payloads, 1u);
    EXPECT_EQ(summary.plainMembers, 1u);
}

TEST_F(PublishPayloadTest, AMemberNamedPakSomethingTravelsAsPayloadUnderADoubledPrefix) {
    writeFile(client() / "_version._", "1.0");
    const std::string contents(3000, 'q');
    writeFile(client() / "scripts" / "lib" / "pak_table.bin", contents);
    ASSERT_TRUE(publish()) << error;
    const auto listed = md5ByPath();
    ASSERT_EQ(listed.count("scripts/lib/pak_pak_table.bin"), 1u);
    const auto member = mendly::classifyArchivePath("scripts/lib/pak_pak_table.bin");
    ASSERT_TRUE(member && member->hadPakPrefix);
    EXPECT_EQ(member->memberPath, "lib\\pak_table.bin");
    const auto decoded =
        mendly::vfile::decodeSingleFilePayload(readFile(root() / "aurum" / "scripts" / "lib" / "pak_pak_table.bin"));
    EXPECT_TRUE(decoded == contents);
}

TEST_F(PublishPayloadTest, AnEmptyMemberNamedPakSomethingCannotBePublished) {
    writeFile(client() / "_version._", "1.0");
    writeFile(client() / "scripts" / "pak_empty.bin", "");
    EXPECT_FALSE(publish());
    EXPECT_NE(error.find("scripts/pak_empty.bin"), std::string::npos) << error;
    EXPECT_NE(error.find("it is empty"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(root() / "aurum.manifest"));
    EXPECT_FALSE(fs::exists(root() / ".aurum.staging"));
}

class PublishRefusalTest : public PublishTest {};

TEST_F(PublishRefusalTest, AnExistingPublicationIsKeptWithoutForceAndReplacedWithIt) {
    writeFile(client() / "_version._", "1.0");
    writeFile(client() / "a.txt", "first");
    ASSERT_TRUE(publish()) << error;
    const std::string firstManifest = readFile(root() / "aurum.manifest");

    writeFile(client() / "_version._", "2.0");
    fs::remove(client() / "a.txt");
    writeFile(client() / "b.txt", "second");
    EXPECT_FALSE(publish());
    EXPECT_EQ(error, (root() / "aurum.manifest").string() + " already exists; use --force to replace the publication");
    EXPECT_EQ(readFile(root() / "aurum.manifest"), firstManifest);
    EXPECT_EQ(readFile(root() / "aurum" / "a.txt"), "first");

    PublishOptions force = fixedStamp();
    force.force = true;
    ASSERT_TRUE(publish(force)) << error;
    const auto listed = md5ByPath();
    EXPECT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed.count("b.txt"), 1u);
    EXPECT_FALSE(fs::exists(root() / "aurum" / "a.txt"));  // the old publication is gone, not merged
    EXPECT_EQ(readFile(root() / "aurum" / "_version._"), "2.0");
    for (const char* leftover : {".aurum.staging", ".aurum.old", ".aurum.manifest.part"})
        EXPECT_FALSE(fs::exists(root() / leftover)) << leftover;
}

TEST_F(PublishRefusalTest, AFolderWithFilesButNoManifestIsAlsoKept) {
    writeFile(client() / "_version._", "1.0");
    writeFile(root() / "aurum" / "other.txt", "someone's");
    EXPECT_FALSE(publish());
    EXPECT_EQ(error, (root() / "aurum").string() + " is not empty; use --force to replace the publication");
    EXPECT_EQ(readFile(root() / "aurum" / "other.txt"), "someone's");

    // An empty folder is no publication.
    fs::remove(root() / "aurum" / "other.txt");
    EXPECT_TRUE(publish()) << error;
}

TEST_F(PublishRefusalTest, OtherServersOnTheSameHostAreLeftAlone) {
    writeFile(client() / "_version._", "1.0");
    writeFile(root() / "retail.manifest", "{}");
    writeFile(root() / "retail" / "x.txt", "x");
    ASSERT_TRUE(publish()) << error;
    EXPECT_EQ(readFile(root() / "retail.manifest"), "{}");
    EXPECT_EQ(readFile(root() / "retail" / "x.txt"), "x");
}

TEST_F(PublishRefusalTest, UnusableClientsAndNamesAreRefusedWithAReason) {
    EXPECT_FALSE(publish());
    EXPECT_EQ(error, "Not a client folder (no _version._): " + client().string());

    writeFile(client() / "_version._", "1.0");
    EXPECT_FALSE(publishClient(client(), "up/x", root(), fixedStamp(), error));
    EXPECT_EQ(error, "The server name \"up/x\" may hold only letters, digits, '.', '_' and '-'");
    EXPECT_FALSE(publishClient(client(), ".hidden", root(), fixedStamp(), error));
    EXPECT_EQ(error, "The server name \".hidden\" begins with '.'");

    EXPECT_FALSE(publishClient(client(), "aurum", client() / "host", fixedStamp(), error));
    EXPECT_EQ(error, "The host folder must not lie inside the client folder: " + (client() / "host").string());
}

TEST_F(PublishRefusalTest, AnArchiveThatIsBothAFolderAndPackedIsRefused) {
    makeClient();
    writeFile(client() / "gfx" / "extra.txt", "x");
    EXPECT_FALSE(publish());
    EXPECT_EQ(error, "The archive gfx is there twice, as the folder gfx and as gfx.pak; keep one of them");
}

TEST_F(PublishRefusalTest, ACorruptArchiveIsReportedAndNothingIsPublished) {
    writeFile(client() / "_version._", "1.0");
    writeFile(client() / "worlds.pak", "not an archive");
    EXPECT_FALSE(publish());
    EXPECT_EQ(error, "Cannot read archive: " + (client() / "worlds.pak").string());
    EXPECT_FALSE(fs::exists(root() / "aurum.manifest"));
    EXPECT_FALSE(fs::exists(root() / ".aurum.staging"));
}

TEST_F(PublishRefusalTest, FolderMembersThatDifferOnlyInCaseAreRefused) {
    writeFile(client() / "_version._", "1.0");
    writeFile(client() / "sound" / "A.wav", "1");
    writeFile(client() / "sound" / "a.wav", "2");
    EXPECT_FALSE(publish());
    EXPECT_NE(error.find("Two members of sound differ only in letter case"), std::string::npos) << error;
}

TEST_F(PublishRefusalTest, PathsThatCannotTravelUnescapedAreRefused) {
    writeFile(client() / "_version._", "1.0");
    writeFile(client() / "docs" / "read me.txt", "x");
    EXPECT_FALSE(publish());
    EXPECT_EQ(error, "Cannot publish docs/read me.txt: the path contains a space or a control character");
    fs::remove(client() / "docs" / "read me.txt");
    writeFile(client() / "docs" / "100%.txt", "x");
    EXPECT_FALSE(publish());
    EXPECT_EQ(error, "Cannot publish docs/100%.txt: the path contains '%'");
}

class PublishProgramTest : public PublishTest {
protected:
    mendly::test::ProcessResult run(std::vector<std::string> args) {
        mendly::test::ProcessOptions options;
        options.args = std::move(args);
        options.timeLimit = std::chrono::seconds(60);
        return mendly::test::runProcess(PUBLISH_PATCH_EXE, options);
    }
};

TEST_F(PublishProgramTest, ExitCodesSayPublishedFailedOrMisused) {
    writeFile(client() / "_version._", "1.0");
    writeFile(client() / "a.txt", "a");
    const auto ok = run({"--client", client().string(), "--server", "aurum", "--root", root().string()});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(ok.out, "Published aurum: 2 loose file(s), 0 archive member(s), 0 payload(s), 0.0 MiB\nManifest: " +
                          (root() / "aurum.manifest").string() + "\n");

    const auto again = run({"--client", client().string(), "--server", "aurum", "--root", root().string()});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err, "publish_patch: " + (root() / "aurum.manifest").string() +
                             " already exists; use --force to replace the publication\n");

    const auto misused = run({"--client", client().string(), "--server", "aurum"});
    EXPECT_EQ(misused.exitCode, 2);
    EXPECT_EQ(misused.err.rfind("publish_patch: --client, --server and --root are required\n", 0), 0u) << misused.err;

    const auto warned = run({"--client", client().string(), "--server", "aurum", "--root", root().string(), "--force",
                             "--payload", "gfx/*"});
    EXPECT_EQ(warned.exitCode, 0);
    EXPECT_EQ(warned.err, "publish_patch: warning: --payload gfx/* matched no archive member\n");
}

}  // namespace
