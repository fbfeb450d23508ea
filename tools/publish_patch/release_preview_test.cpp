// publish_patch --preview: the comparison of a release with the served
// manifest, its text, and the program writing nothing while it previews.
#include "release_preview.h"
#include "delta_preview.h"

#include <gtest/gtest.h>

#include <map>

#include "hash/digest.h"
#include "preview_report.h"
#include "publish.h"
#include "support/process_runner.h"
#include "support/sample_client.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using mendly::ManifestEntry;
using mendly::PatchManifest;
using mendly::publish::FileChange;
using mendly::publish::PreviewLine;
using mendly::publish::previewRelease;
using mendly::publish::ServedFile;
using mendly::test::readFile;
using mendly::test::writeFile;
using Kind = ServedFile::Kind;

const std::string kA(32, 'a');
const std::string kB(32, 'b');
const std::string kC(32, 'c');
const std::string kUpperA(32, 'A');

ServedFile served(std::string relative, std::string md5, std::uint64_t size, Kind kind = Kind::Loose,
                  std::string contentsMd5 = {}) {
    ServedFile file;
    file.relative = std::move(relative);
    file.md5 = std::move(md5);
    file.size = size;
    file.kind = kind;
    file.contentsMd5 = std::move(contentsMd5);
    return file;
}

PatchManifest manifestOf(std::vector<ManifestEntry> files, std::string generated = "2024-01-01T00:00:00Z") {
    PatchManifest manifest;
    manifest.files = std::move(files);
    manifest.generated = std::move(generated);
    return manifest;
}

struct ExpectedLine {
    FileChange change;
    Kind kind;
    std::string relative;
    std::string relativeBefore = {};
    bool sameContents = false;
};

struct DiffCase {
    const char* name;
    std::vector<ManifestEntry> before;
    std::vector<ServedFile> after;  // built with served()
    std::vector<ExpectedLine> lines;
    std::uint64_t unchanged = 0;
    std::uint64_t updateBytes = 0;
    std::uint64_t userIniBytes = 0;
};

TEST(PreviewReleaseTest, ComparesByWhatEachPathNamesOnAPlayersDisk) {
    const std::vector<DiffCase> cases = {
        {"an unchanged file, its MD5 listed in capitals", {{"a.txt", kUpperA, 5}}, {served("a.txt", kA, 5)}, {}, 1, 0},
        {"an added file", {{"a.txt", kA, 5}}, {served("a.txt", kA, 5), served("b.txt", kB, 7)},
         {{FileChange::Added, Kind::Loose, "b.txt"}}, 1, 7},
        {"a changed file", {{"a.txt", kA, 5}}, {served("a.txt", kB, 9)}, {{FileChange::Changed, Kind::Loose, "a.txt"}},
         0, 9},
        {"a removed member costs nothing", {{"a.txt", kA, 5}, {"gfx/old.dds", kB, 3}}, {served("a.txt", kA, 5)},
         {{FileChange::Removed, Kind::Member, "gfx/old.dds"}}, 1, 0},
        {"a member switched to a payload with its contents kept",
         {{"gfx/ui/a.dds", kA, 100}},
         {served("gfx/ui/pak_a.dds", kB, 40, Kind::Payload, kUpperA)},
         {{FileChange::Changed, Kind::Payload, "gfx/ui/pak_a.dds", "gfx/ui/a.dds", true}}, 0, 40},
        {"a member switched to a payload with new contents",
         {{"gfx/ui/a.dds", kA, 100}},
         {served("gfx/ui/pak_a.dds", kB, 40, Kind::Payload, kC)},
         {{FileChange::Changed, Kind::Payload, "gfx/ui/pak_a.dds", "gfx/ui/a.dds"}}, 0, 40},
        {"a payload switched back to the plain member",
         {{"gfx/pak_b.dds", kA, 40}},
         {served("gfx/b.dds", kB, 100, Kind::Member)},
         {{FileChange::Changed, Kind::Member, "gfx/b.dds", "gfx/pak_b.dds"}}, 0, 100},
        {"an old member path with capitals and backslashes", {{"GFX\\Ui\\A.dds", kA, 5}},
         {served("gfx/ui/a.dds", kA, 5, Kind::Member)}, {}, 1, 0},
        {"a loose file renamed by letter case is another file", {{"Readme.txt", kA, 5}},
         {served("readme.txt", kA, 5)},
         {{FileChange::Removed, Kind::Loose, "Readme.txt"}, {FileChange::Added, Kind::Loose, "readme.txt"}}, 0, 5},
        {"an update leaves changed user INI files alone but fetches the kept ones",
         {{"ini/user.ini", kA, 5}, {"ini/updater.ini", kA, 5}},
         {served("ini/updater.ini", kB, 6), served("ini/user.ini", kB, 8)},
         {{FileChange::Changed, Kind::Loose, "ini/updater.ini"}, {FileChange::Changed, Kind::Loose, "ini/user.ini"}}, 0,
         6, 8},
    };
    for (const DiffCase& c : cases) {
        SCOPED_TRACE(c.name);
        const PatchManifest before = manifestOf(c.before);
        const auto preview = previewRelease(&before, c.after);
        ASSERT_EQ(preview.lines.size(), c.lines.size());
        std::map<FileChange, std::uint64_t> counted;
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            const PreviewLine& line = preview.lines[i];
            const ExpectedLine& expected = c.lines[i];
            EXPECT_EQ(line.change, expected.change) << i;
            EXPECT_EQ(line.kind, expected.kind) << i;
            EXPECT_EQ(line.relative, expected.relative) << i;
            EXPECT_EQ(line.relativeBefore, expected.relativeBefore) << i;
            EXPECT_EQ(line.sameContents, expected.sameContents) << i;
            ++counted[expected.change];
        }
        EXPECT_TRUE(preview.hostServes);
        EXPECT_EQ(preview.generatedBefore, "2024-01-01T00:00:00Z");
        EXPECT_EQ(preview.added, counted[FileChange::Added]);
        EXPECT_EQ(preview.changed, counted[FileChange::Changed]);
        EXPECT_EQ(preview.removed, counted[FileChange::Removed]);
        EXPECT_EQ(preview.unchanged, c.unchanged);
        EXPECT_EQ(preview.updateBytes, c.updateBytes);
        EXPECT_EQ(preview.userIniBytes, c.userIniBytes);
        std::uint64_t install = 0;
        for (const auto& file : c.after) install += file.size;
        EXPECT_EQ(preview.installBytes, install);
        EXPECT_EQ(preview.installFiles, c.after.size());
    }
}

TEST(PreviewReportTest, HumanSizesSwitchUnitsWithoutPrintingA1024) {
    const std::vector<std::pair<std::uint64_t, std::string>> cases = {
        {0, "0 B"},           {1023, "1023 B"},          {1024, "1.0 KiB"},          {1536, "1.5 KiB"},
        {1048575, "1.0 MiB"}, {20u << 20, "20.0 MiB"}, {5ull << 40, "5.0 TiB"}, {UINT64_MAX, "16.0 EiB"}};
    for (const auto& [bytes, text] : cases) EXPECT_EQ(mendly::publish::humanSize(bytes), text) << bytes;
}

TEST(PreviewReportTest, ListsEveryDifferenceThenWhatUpdatesAndInstallsFetch) {
    const PatchManifest before = manifestOf({{"a.txt", kA, 5},
                                             {"gfx/ui/a.dds", kA, 3000},
                                             {"ini/user.ini", kA, 4},
                                             {"old.txt", kA, std::nullopt},
                                             {"same.txt", kC, 2}});
    const std::vector<ServedFile> after = {served("a.txt", kB, 1536),
                                           served("gfx/ui/pak_a.dds", kB, 20, Kind::Payload, kA),
                                           served("ini/user.ini", kB, 7), served("new.txt", kC, 1),
                                           served("same.txt", kC, 2)};
    EXPECT_EQ(mendly::publish::formatReleasePreview(previewRelease(&before, after), "aurum", "h/aurum.manifest"),
              "Preview of aurum against h/aurum.manifest (generated 2024-01-01T00:00:00Z):\n"
              "changed loose   1536  a.txt\n"
              "changed payload   20  gfx/ui/pak_a.dds  (was member gfx/ui/a.dds, same contents)\n"
              "changed loose      7  ini/user.ini\n"
              "added   loose      1  new.txt\n"
              "removed loose      ?  old.txt\n"
              "1 added, 3 changed, 1 removed, 1 unchanged (5 files served after the release, 5 now).\n"
              "Update for a player up to date with the served release: 1557 bytes (1.5 KiB) in 3 files.\n"
              "Left out of that: 1 added or changed user INI file, 7 bytes (7 B), which an update leaves alone "
              "(an install or an INI reset fetches them).\n"
              "Fresh install: 1566 bytes (1.5 KiB) in 5 files.\n"
              "Nothing was written.\n");
    EXPECT_EQ(mendly::publish::formatReleasePreview(previewRelease(nullptr, {served("a.txt", kA, 1)}), "aurum",
                                                    "h/aurum.manifest"),
              "Preview of aurum: h/aurum.manifest does not exist, so nothing is served yet and every file counts "
              "as added.\n"
              "added   loose   1  a.txt\n"
              "1 added, 0 changed, 0 removed, 0 unchanged (1 file served after the release, 0 now).\n"
              "Fresh install: 1 byte (1 B) in 1 file.\n"
              "Nothing was written.\n");
}

// Everything below a folder: each path with its type, size, MD5 and time.
std::map<std::string, std::string> listing(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string relative = entry.path().lexically_relative(folder).generic_string();
        const auto stamp = entry.last_write_time().time_since_epoch().count();
        if (entry.is_regular_file())
            out[relative] = std::to_string(entry.file_size()) + " " + mendly::md5FileHex(entry.path()) + " " +
                            std::to_string(stamp);
        else
            out[relative] = (entry.is_directory() ? "folder " : "other ") + std::to_string(stamp);
    }
    return out;
}

class ReleasePreviewProgramTest : public ::testing::Test {
protected:
    fs::path client() const { return dir / "client"; }
    fs::path host() const { return dir / "host"; }
    fs::path manifest() const { return host() / "aurum.manifest"; }

    void makeClient() {
        mendly::test::SampleClientOptions options;
        options.totalBytes = 3u << 20;
        options.members = 60;
        options.seed = 5;
        options.packedArchives = {"gfx", "worlds"};
        options.folderArchives = {"scripts"};
        mendly::test::SampleClientSummary summary;
        std::string error;
        ASSERT_TRUE(mendly::test::makeSampleClient(client(), options, summary, error)) << error;
    }

    void publish(const mendly::publish::PublishOptions& options) {
        std::string error;
        ASSERT_TRUE(mendly::publish::publishClient(client(), "aurum", host(), options, error)) << error;
    }

    mendly::test::ProcessResult preview(std::vector<std::string> extra) {
        mendly::test::ProcessOptions options;
        options.args = {"--preview", "--client", client().string(), "--server", "aurum"};
        options.args.insert(options.args.end(), extra.begin(), extra.end());
        options.timeLimit = std::chrono::seconds(60);
        return mendly::test::runProcess(PUBLISH_PATCH_EXE, options);
    }

    // What the program should print: the comparison made in this process.
    std::string expectedText(const mendly::publish::PublishOptions& options) {
        std::string error;
        std::optional<PatchManifest> served;
        EXPECT_TRUE(mendly::publish::readServedManifest(host(), "aurum", served, error)) << error;
        std::vector<ServedFile> files;
        std::vector<std::string> unmatched;
        EXPECT_TRUE(mendly::publish::listServedFiles(client(), options, files, unmatched, error)) << error;
        std::string behind;
        EXPECT_TRUE(mendly::publish::previewDeltaCosts(client(), host(), "aurum", served, files, options, behind, error))
            << error;
        return mendly::publish::formatReleasePreview(previewRelease(served ? &*served : nullptr, files), "aurum",
                                                     manifest().string(), behind);
    }

    mendly::test::TempDir dir{"publish-preview"};
};

TEST_F(ReleasePreviewProgramTest, ListingTheServedFilesGivesExactlyWhatPublishingWrites) {
    makeClient();
    mendly::publish::PublishOptions options;
    options.payloadPatterns = {"gfx/*"};
    std::vector<ServedFile> files;
    std::vector<std::string> unmatched;
    std::string error;
    const auto clientBefore = listing(client());
    ASSERT_TRUE(mendly::publish::listServedFiles(client(), options, files, unmatched, error)) << error;
    EXPECT_EQ(listing(client()), clientBefore);
    publish(options);

    std::optional<PatchManifest> served;
    ASSERT_TRUE(mendly::publish::readServedManifest(host(), "aurum", served, error)) << error;
    ASSERT_TRUE(served);
    ASSERT_EQ(served->files.size(), files.size());
    std::size_t payloads = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(served->files[i].relative, files[i].relative);
        EXPECT_EQ(served->files[i].md5, files[i].md5) << files[i].relative;
        EXPECT_EQ(served->files[i].size, files[i].size) << files[i].relative;
        if (files[i].kind == Kind::Payload) ++payloads;
    }
    EXPECT_GT(payloads, 0u);
}

TEST_F(ReleasePreviewProgramTest, APreviewWritesNothingAnywhereAndNeedsNoKey) {
    makeClient();
    mendly::publish::PublishOptions first;
    first.generated = "2024-01-02T03:04:05Z";
    publish(first);
    mendly::test::MutationOptions mutation;
    mutation.loosePercent = 20;
    mutation.memberPercent = 10;
    mendly::test::MutationSummary mutated;
    std::string error;
    ASSERT_TRUE(mendly::test::mutateClient(client(), mutation, mutated, error)) << error;
    writeFile(client() / "docs" / "notes.txt", "new in this release");

    mendly::publish::PublishOptions next;
    next.payloadPatterns = {"worlds/*"};
    const std::string expected = expectedText(next);
    const auto before = listing(dir.path());
    const auto run = preview({"--against", host().string(), "--root", (dir / "elsewhere").string(), "--payload",
                              "worlds/*", "--sign", (dir / "no-such-key.pem").string(), "--force"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(listing(dir.path()), before);

    EXPECT_NE(run.out.find("\nadded   loose   "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  docs/notes.txt\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nchanged payload "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(was member worlds/"), std::string::npos) << run.out;

    // Once published, the same release previews as nothing to fetch.
    next.force = true;
    publish(next);
    const auto again = preview({"--root", host().string(), "--payload", "worlds/*"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("\n0 added, 0 changed, 0 removed, "), std::string::npos) << again.out;
    EXPECT_NE(again.out.find("up to date with the served release: 0 bytes (0 B) in 0 files.\n"), std::string::npos)
        << again.out;
}

TEST_F(ReleasePreviewProgramTest, AMissingManifestCountsEverythingAsAddedAndAnUnusableOneFails) {
    writeFile(client() / "_version._", "1.0");
    writeFile(client() / "a.txt", "a");
    const auto fresh = preview({"--against", (dir / "not-yet").string()});
    EXPECT_EQ(fresh.exitCode, 0) << fresh.err;
    EXPECT_EQ(fresh.out.rfind("Preview of aurum: " + (dir / "not-yet" / "aurum.manifest").string() +
                                  " does not exist, so nothing is served yet and every file counts as added.\n",
                              0),
              0u)
        << fresh.out;
    EXPECT_FALSE(fs::exists(dir / "not-yet"));

    const std::vector<std::pair<const char*, std::string>> unusable = {
        {"not JSON", "{\"files\": [ {\"relative\": \"a.txt\""},
        {"an unsafe path", R"({"files":[{"relative":"../a.txt","md5":"00"}]})"},
        {"no file list", R"({"generated":"x"})"}};
    for (const auto& [what, text] : unusable) {
        SCOPED_TRACE(what);
        writeFile(manifest(), text);
        const auto before = listing(dir.path());
        const auto run = preview({"--against", host().string()});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("publish_patch: The served manifest " + manifest().string() +
                                    " is not usable (manifest parse: ",
                                0),
                  0u)
            << run.err;
        EXPECT_EQ(listing(dir.path()), before);
    }

    fs::remove(manifest());
    fs::create_directories(manifest());
    const auto folder = preview({"--against", host().string()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_EQ(folder.err, "publish_patch: Cannot read the served manifest " + manifest().string() + "\n");

    const auto misused = preview({});
    EXPECT_EQ(misused.exitCode, 2);
    EXPECT_EQ(misused.err.rfind("publish_patch: --preview needs --client, --server and --against HOSTDIR (or --root)\n",
                                0),
              0u)
        << misused.err;
}

}  // namespace
