#include "patch/patch_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "support/loopback_server.h"
#include "patch/archive_paths.h"
#include "patch/cancel_flag.h"
#include "patch/download_stage.h"
#include "patch/manifest.h"
#include "patch/patch_reporting.h"
#include "patch/staging_area.h"
#include "patch/vfile/archive.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/single_file_payload.h"
#include "platform/install_lock.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"
#include "support/test_signing.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;
using test::PatchEventRecorder;
using test::PatchHostFolder;
using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kDash = " \xE2\x80\x94 ";  // " — "
const std::string kSkipping = "Skipping 2 user ini file(s) (keeping ini/updater.ini and ini/hash.ini)";

// Records what a run posts to its window and frees every payload, as the
// launcher's window does.
class RecordingWindow : public PatchWindow {
public:
    explicit RecordingWindow(bool accepts = true) : accepts_(accepts) {}

    bool post(unsigned message, std::intptr_t wParam, std::intptr_t lParam) override {
        if (!accepts_) return false;
        const std::lock_guard lock(mutex_);
        if (message == WM_PATCH_STATUS) {
            statuses_.push_back(toUtf8(*adoptTextPayload(lParam)));
        } else if (message == WM_PATCH_PROGRESS) {
            progress_.push_back("progress: " + std::to_string(wParam) + "/" + std::to_string(lParam));
        } else if (message == WM_PATCH_TRANSFER) {
            transferred_.push_back(adoptTransferPayload(lParam)->bytesDone);
        } else {
            others_.push_back(message);
        }
        return true;
    }
    std::vector<std::string> statuses() const {
        const std::lock_guard lock(mutex_);
        return statuses_;
    }
    std::vector<std::string> progress() const {
        const std::lock_guard lock(mutex_);
        return progress_;
    }
    std::vector<unsigned> others() const {
        const std::lock_guard lock(mutex_);
        return others_;
    }
    // bytesDone of every WM_PATCH_TRANSFER, in arrival order.
    std::vector<std::uint64_t> transferred() const {
        const std::lock_guard lock(mutex_);
        return transferred_;
    }

private:
    const bool accepts_;
    mutable std::mutex mutex_;
    std::vector<std::string> statuses_, progress_;
    std::vector<unsigned> others_;
    std::vector<std::uint64_t> transferred_;
};

class PatchRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetPatchCancel();
        ASSERT_TRUE(LogFile::open(logDir.path()));
        PatchEventRecorder::clear();
        setPatchCallbacks(&PatchEventRecorder::onStatus, &PatchEventRecorder::onProgress);

        host.addFile("Kaltris.exe", "MZ game binary v2");
        host.addFile("data\\readme.txt", "read me v2");
        host.addFile("ini/updater.ini", "[updater]\nversion=2\n");
        host.addFile("ini/hash.ini", "[hash]\n");
        host.addFile("ini/user.ini", "[user]\nname=default\n");
        host.addFile("INI\\video.ini", "[video]\nwidth=800\n");
        host.addFile("gfx/ui/a.dds", std::string(5000, 'a'));
        host.addFile("gfx/ui/b.dds", "bbb");
        host.addFile("worlds/x.dat", "world x");
        host.addPayloadFile("worlds/sub/pak_y.dat", std::string(3000, 'y'));
        host.addFile("sound/s.wav", "RIFF sound");
        server.serveFolder(hostDir.path(), "/");
    }
    void TearDown() override {
        setPatchCallbacks(nullptr, nullptr);
        resetPatchCancel();
        LogFile::close();
    }

    bool run(PatchMode mode, PatchWindow* window = nullptr) {
        host.publish();
        return runPatch(window, server.wideUrl(host.manifestUrlPath()), server.wideUrl(host.filesUrlPath()),
                        install.path(), mode, error);
    }
    // A run that requires the manifest to be signed with the test key, which it is.
    bool runSigned(PatchMode mode) {
        host.publish();
        writeFile(hostDir / "aurum.manifest.sig",
                  test::signatureFileFor(test::testSigningKey(), readFile(hostDir / "aurum.manifest")));
        TrustedKeys trust = test::trustOnly(test::testSigningKey());
        trust.server = "aurum";
        return runPatch(nullptr, server.wideUrl(host.manifestUrlPath()), server.wideUrl(host.filesUrlPath()), trust,
                        install.path(), mode, error);
    }
    bool runWithManifestAt(std::string manifestPath) {
        host.publish();
        return runPatch(nullptr, server.wideUrl(manifestPath), server.wideUrl(host.filesUrlPath()), install.path(),
                        PatchMode::Install, error);
    }
    // Starts the next run with an empty log and no recorded events.
    void startOver() {
        ASSERT_TRUE(LogFile::open(logDir.path()));
        PatchEventRecorder::clear();
        error.clear();
    }
    void installSampleClient() {
        ASSERT_TRUE(run(PatchMode::Install)) << toUtf8(error);
        startOver();
    }

    // The run's size lines (run_summary.h; tested there and by the programs'
    // tests), which name free space and times no test controls.
    static bool isSizeLine(std::string_view line) {
        if (line.starts_with("status: ")) line.remove_prefix(8);
        return line.starts_with("Download: ") || line.starts_with("Reusing ") || line.starts_with("Fetched ");
    }
    std::vector<std::string> logTail() const {
        auto lines = test::logMessages(logDir.path());
        if (!lines.empty()) lines.erase(lines.begin());  // "launcher.log opened"
        std::erase_if(lines, [](const std::string& s) { return isSizeLine(s); });
        return lines;
    }
    // Statuses without the speed texts and the size lines.
    static std::vector<std::string> statuses() {
        std::vector<std::string> out = PatchEventRecorder::statuses();
        std::erase_if(out, [](const std::string& s) { return s.starts_with("Downloading files (") || isSizeLine(s); });
        return out;
    }
    static std::vector<std::string> eventsAfter(std::string_view status) {
        std::vector<std::string> out = PatchEventRecorder::eventsAfter(status);
        std::erase_if(out, [](const std::string& s) { return isSizeLine(s); });
        return out;
    }
    std::string at(const fs::path& relative) const { return (install.path() / relative).string(); }
    std::string archivePath(std::string_view name) const { return at(std::string(name) + ".pak"); }
    std::string updatingLine(std::string_view archive, std::string_view tail) const {
        return "Updating archive: " + archivePath(archive) + " " + std::string(tail);
    }

    std::optional<vfile::Archive> archive(std::string_view name) const {
        return vfile::Archive::open(install.path() / (std::string(name) + ".pak"));
    }
    std::vector<std::string> memberNames(std::string_view name) const {
        std::vector<std::string> out;
        if (const auto a = archive(name))
            for (const auto& e : a->listEntries()) out.push_back(e.name);
        return out;
    }
    // Adds an entry to an existing archive, keeping the others as stored.
    void addArchiveEntry(std::string_view archiveName, std::string name, std::string_view contents) {
        ASSERT_TRUE(vfile::updateArchiveFile(install.path() / (std::string(archiveName) + ".pak"),
                                             {{std::move(name), *vfile::compressEntry(contents)}}, {}));
    }

    // Every host file is on disk with the served contents (loose files) or
    // as an archive member with those contents ("pak_" files: the payload
    // rebuilt from the stored entry), except those listed in `except`.
    void expectClientMatchesHost(const std::vector<std::string>& except = {}) const {
        for (const PatchHostFolder::File& f : host.files()) {
            if (std::find(except.begin(), except.end(), f.relative) != except.end()) continue;
            const auto ref = classifyArchivePath(f.relative);
            if (!ref) {
                const fs::path path = looseFilePath(install.path(), f.relative);
                ASSERT_TRUE(fs::is_regular_file(path)) << f.relative;
                EXPECT_EQ(readFile(path), f.served) << f.relative;
                continue;
            }
            const auto a = archive(ref->archiveName);
            ASSERT_TRUE(a) << f.relative;
            if (ref->hadPakPrefix) {
                const auto stored = a->readStored(ref->memberPath);
                ASSERT_TRUE(stored) << f.relative;
                EXPECT_EQ(vfile::buildSingleFilePayload(*stored), f.served) << f.relative;
            } else {
                EXPECT_EQ(a->readEntry(ref->memberPath), f.served) << f.relative;
            }
        }
    }

    TempDir hostDir{"patch-host"};
    TempDir install{"patch-install"};
    TempDir logDir{"patch-log"};
    LoopbackServer server;
    PatchHostFolder host{hostDir.path(), "aurum"};
    std::u16string error;
};

TEST_F(PatchRunTest, FreshInstallLeavesEveryFileAndMemberMatching) {
    ASSERT_TRUE(run(PatchMode::Install)) << toUtf8(error);
    EXPECT_EQ(error, u"");
    expectClientMatchesHost();
    EXPECT_EQ(memberNames("worlds"), (std::vector<std::string>{"sub\\y.dat", "x.dat"}));
    EXPECT_FALSE(fs::exists(install / "Kaltris.exe.part"));

    EXPECT_EQ(statuses(), (std::vector<std::string>{"Downloading manifest...", "Verifying local files...",
                                                    "Verify done: 11 file(s) need patching", "Downloading files...",
                                                    "Applying patches..."}));
    // Six loose files, then gfx, sound and worlds, then (N, N).
    std::vector<std::string> apply{"progress: 0/1"};
    for (int done = 0; done <= 9; ++done) apply.push_back("progress: " + std::to_string(done) + "/9");
    apply.push_back("progress: 11/11");
    EXPECT_EQ(eventsAfter("Applying patches..."), apply);
    EXPECT_EQ(logTail(), (std::vector<std::string>{updatingLine("gfx", "(2 entries)"),
                                                   updatingLine("sound", "(1 entry)"),
                                                   updatingLine("worlds", "(2 entries, 1 removed)")}));

    startOver();
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(PatchEventRecorder::statuses(),
              (std::vector<std::string>{"Downloading manifest...", kSkipping, "Verifying local files...",
                                        "Verify done: all 9 synced file(s) match."}));
    EXPECT_EQ(PatchEventRecorder::events().back(), "progress: 9/9");
    EXPECT_TRUE(logTail().empty());
    EXPECT_EQ(server.requestCount("/aurum/Kaltris.exe"), 1u);
}

TEST_F(PatchRunTest, ARequiredSignatureIsCheckedBeforeAnyFileIsVerifiedOrFetched) {
    const TrustedKeys trust = test::trustOnly(test::testSigningKey());
    const fs::path sigFile = hostDir / "aurum.manifest.sig";
    const auto signWith = [&](const signing::SigningKey& key) {
        host.publish();
        writeFile(sigFile, test::signatureFileFor(key, readFile(hostDir / "aurum.manifest")));
    };
    const auto runSigned = [&] {
        return runPatch(nullptr, server.wideUrl(host.manifestUrlPath()), server.wideUrl(host.filesUrlPath()), trust,
                        install.path(), PatchMode::Install, error);
    };
    host.publish();
    EXPECT_FALSE(runSigned());  // no signature served
    EXPECT_EQ(error, u"The patch manifest is not signed.");
    signWith(test::strangerSigningKey());
    EXPECT_FALSE(runSigned());
    EXPECT_EQ(error, u"The patch manifest is not signed by a trusted key.");
    EXPECT_EQ(logTail(), (std::vector<std::string>{"ERROR: The patch manifest is not signed.",
                                                   "ERROR: The patch manifest is not signed by a trusted key."}));
    EXPECT_EQ(server.totalRequests(), 4u);  // the manifest and its signature, twice
    EXPECT_TRUE(fs::is_empty(install.path()));

    error.clear();
    signWith(test::testSigningKey());
    ASSERT_TRUE(runSigned()) << toUtf8(error);
    expectClientMatchesHost();
}

TEST_F(PatchRunTest, ASignedManifestOlderThanTheInstalledOneIsRefusedAndNothingChanges) {
    host.setRelease(5);
    ASSERT_TRUE(runSigned(PatchMode::Install)) << toUtf8(error);
    startOver();
    const auto before = test::folderSnapshot(install.path());
    const std::size_t requestsBefore = server.totalRequests();
    host.addFile("Kaltris.exe", "MZ game binary v1, with a known fault");
    host.setRelease(4);  // an old, genuinely signed manifest replayed by a mirror
    EXPECT_FALSE(runSigned(PatchMode::Update));
    const std::string sentence = "The patch manifest (release 4) is older than the one already installed (release 5).";
    EXPECT_EQ(toUtf8(error), sentence);
    EXPECT_EQ(logTail(), std::vector<std::string>{"ERROR: " + sentence});
    EXPECT_EQ(server.totalRequests(), requestsBefore + 2);  // the manifest and its signature
    EXPECT_EQ(test::folderSnapshot(install.path()), before);

    host.setRelease(5);  // the same release again is fine
    EXPECT_TRUE(runSigned(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(readFile(install / "Kaltris.exe"), "MZ game binary v1, with a known fault");
}

TEST_F(PatchRunTest, ASignedManifestForAnotherServerOrPastItsExpiryIsRefused) {
    host.setServerClaim("ferrum");
    EXPECT_FALSE(runSigned(PatchMode::Install));
    EXPECT_EQ(error, u"The patch manifest is for another server (\"ferrum\").");
    host.setServerClaim("aurum");
    host.setExpires("2020-01-01T00:00:00Z");
    EXPECT_FALSE(runSigned(PatchMode::Install));
    EXPECT_EQ(error, u"The patch manifest expired on 2020-01-01T00:00:00Z.");
    host.setExpires("2999-12-31T23:59:59Z");
    host.setManifestSha256("Kaltris.exe", "");
    EXPECT_FALSE(runSigned(PatchMode::Install));
    EXPECT_EQ(error, u"The patch manifest does not name a SHA-256 for every file.");
    EXPECT_TRUE(test::folderSnapshot(install.path()).empty());
}

TEST_F(PatchRunTest, BytesWithTheRightMd5ButAnotherSha256AreAMismatchThatAGoodHostRepairs) {
    // As if a collision twin of the signed file were served: its MD5 passes.
    host.setManifestSha256("Kaltris.exe", sha256Hex("the file that was signed"));
    EXPECT_FALSE(runSigned(PatchMode::Install));
    EXPECT_EQ(toUtf8(error), "Hash mismatch after download: Kaltris.exe\nwhile fetching the file Kaltris.exe from "
                             "127.0.0.1:" + std::to_string(server.port()));
    startOver();
    host.setManifestSha256("Kaltris.exe", sha256Hex("MZ game binary v2"));
    ASSERT_TRUE(runSigned(PatchMode::Install)) << toUtf8(error);
    expectClientMatchesHost();
}

TEST_F(PatchRunTest, UpdateRepairsExactlyWhatWasDamaged) {
    installSampleClient();
    fs::remove(install / "Kaltris.exe");
    writeFile(install / "data/readme.txt", "read");
    test::writeGameArchive(install / "gfx.pak", {{"ui\\a.dds", std::string(5000, 'a')}, {"ui\\b.dds", "changed"}});
    addArchiveEntry("worlds", "stray.dat", "left behind");
    writeFile(install / ".mendly-vfile-state.json", "{}");

    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    expectClientMatchesHost();
    EXPECT_EQ(memberNames("worlds"), (std::vector<std::string>{"sub\\y.dat", "x.dat"}));
    EXPECT_FALSE(fs::exists(install / ".mendly-vfile-state.json"));

    EXPECT_EQ(statuses(), (std::vector<std::string>{"Downloading manifest...", kSkipping, "Verifying local files...",
                                                    "Verify done: 3 file(s) need patching", "Downloading files...",
                                                    "Applying patches..."}));
    EXPECT_EQ(eventsAfter("Applying patches..."),
              (std::vector<std::string>{"progress: 0/1", "progress: 0/4", "progress: 1/4", "progress: 2/4",
                                        "progress: 3/4", "progress: 4/4", "progress: 3/3"}));
    EXPECT_EQ(logTail(), (std::vector<std::string>{updatingLine("gfx", "(1 entry)"),
                                                   updatingLine("worlds", "(removing 1 orphan entry)")}));
    EXPECT_EQ(server.requestCount("/aurum/gfx/ui/b.dds"), 2u);
    EXPECT_EQ(server.requestCount("/aurum/gfx/ui/a.dds"), 1u);
    EXPECT_EQ(server.requestCount("/aurum/worlds/x.dat"), 1u);
}

TEST_F(PatchRunTest, RunWhereEverythingMatchesStillPrunesOrphans) {
    installSampleClient();
    addArchiveEntry("gfx", "ui\\old.dds", "retired");
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(memberNames("gfx"), (std::vector<std::string>{"ui\\a.dds", "ui\\b.dds"}));
    EXPECT_EQ(PatchEventRecorder::eventsAfter("Verify done: all 9 synced file(s) match."),
              (std::vector<std::string>{"progress: 9/9", "status: Pruning orphan archive entries...",
                                        "progress: 0/1", "progress: 1/1"}));
    EXPECT_EQ(logTail(), std::vector<std::string>{updatingLine("gfx", "(removing 1 orphan entry)")});
}

TEST_F(PatchRunTest, UpdateLeavesUserIniFilesAloneButMaintainsTheKeptOnes) {
    installSampleClient();
    writeFile(install / "ini/user.ini", "[user]\nname=mine\n");
    fs::remove(install / "INI/video.ini");
    writeFile(install / "ini/updater.ini", "stale");
    fs::remove(install / "ini/hash.ini");

    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(readFile(install / "ini/user.ini"), "[user]\nname=mine\n");
    EXPECT_FALSE(fs::exists(install / "INI/video.ini"));
    expectClientMatchesHost({"ini/user.ini", "INI\\video.ini"});
    EXPECT_EQ(server.requestCount("/aurum/ini/user.ini"), 1u);
    EXPECT_EQ(server.requestCount("/aurum/ini/hash.ini"), 2u);
}

TEST_F(PatchRunTest, ResetIniRestoresOnlyIniFiles) {
    installSampleClient();
    writeFile(install / "ini/user.ini", "[user]\nname=mine\n");
    fs::remove(install / "INI/video.ini");
    writeFile(install / "Kaltris.exe", "modded");
    addArchiveEntry("gfx", "ui\\old.dds", "retired");

    ASSERT_TRUE(run(PatchMode::ResetIni)) << toUtf8(error);
    expectClientMatchesHost({"Kaltris.exe"});
    EXPECT_EQ(readFile(install / "Kaltris.exe"), "modded");
    EXPECT_EQ(memberNames("gfx"), (std::vector<std::string>{"ui\\a.dds", "ui\\b.dds", "ui\\old.dds"}));
    EXPECT_EQ(statuses(), (std::vector<std::string>{"Downloading manifest...", "Verifying local files...",
                                                    "Verify done: 2 file(s) need patching", "Downloading files...",
                                                    "Applying patches..."}));
    EXPECT_EQ(eventsAfter("Applying patches..."),
              (std::vector<std::string>{"progress: 0/1", "progress: 0/2", "progress: 1/2", "progress: 2/2",
                                        "progress: 2/2"}));
}

TEST_F(PatchRunTest, ResetIniThatFindsEverythingInPlaceLeavesOrphansAlone) {
    installSampleClient();
    addArchiveEntry("gfx", "ui\\old.dds", "retired");
    ASSERT_TRUE(run(PatchMode::ResetIni)) << toUtf8(error);
    EXPECT_EQ(memberNames("gfx").size(), 3u);
    EXPECT_EQ(PatchEventRecorder::statuses().back(), "Verify done: all 4 synced file(s) match.");
}

TEST_F(PatchRunTest, WindowReceivesEveryStatusAndProgressAsAMessage) {
    RecordingWindow window;
    ASSERT_TRUE(run(PatchMode::Install, &window)) << toUtf8(error);
    EXPECT_EQ(window.statuses(), PatchEventRecorder::statuses());
    std::vector<std::string> progress;
    for (const std::string& e : PatchEventRecorder::events())
        if (e.starts_with("progress: ")) progress.push_back(e);
    std::vector<std::string> posted = window.progress();
    std::sort(progress.begin(), progress.end());
    std::sort(posted.begin(), posted.end());
    EXPECT_EQ(posted, progress);
    EXPECT_TRUE(window.others().empty());  // the end-of-run message is the launcher's
    // The download's bytes: at least the report at its end, never going down.
    const std::vector<std::uint64_t> bytes = window.transferred();
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(std::is_sorted(bytes.begin(), bytes.end()));
    EXPECT_GT(bytes.back(), 0u);
}

TEST_F(PatchRunTest, WindowThatIsGoneCostsNothing) {
    RecordingWindow gone(false);  // every post fails; the payloads must not leak
    ASSERT_TRUE(run(PatchMode::Install, &gone)) << toUtf8(error);
    expectClientMatchesHost();
}

// Failures, in the order a run can meet them.

TEST_F(PatchRunTest, CancelBeforeTheRunDoesNothingAtAll) {
    writeFile(install / ".mendly-vfile-state.json", "{}");
    requestPatchCancel();
    error = u"unchanged?";
    EXPECT_FALSE(run(PatchMode::Install));
    EXPECT_EQ(error, u"Cancelled");
    EXPECT_TRUE(fs::exists(install / ".mendly-vfile-state.json"));
    EXPECT_TRUE(PatchEventRecorder::events().empty());
    EXPECT_TRUE(logTail().empty());
    EXPECT_EQ(server.totalRequests(), 0u);
}

TEST_F(PatchRunTest, MissingManifestReportsTheClientsSentence) {
    writeFile(install / ".mendly-vfile-state.json.part", "{");
    EXPECT_FALSE(runWithManifestAt("/elsewhere.manifest"));
    // The sentence, then what was being fetched from where.
    EXPECT_EQ(toUtf8(error), "That file is not on the server right now (HTTP 404)\n"
                             "while fetching the patch list from 127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(logTail(), std::vector<std::string>{"ERROR: " + server.url("/elsewhere.manifest") + kDash +
                                                  "That file is not on the server right now (HTTP 404)"});
    EXPECT_EQ(PatchEventRecorder::events(), std::vector<std::string>{"status: Downloading manifest..."});
    EXPECT_FALSE(fs::exists(install / ".mendly-vfile-state.json.part"));
}

TEST_F(PatchRunTest, UnparsableManifestIsRefusedAsAWhole) {
    server.respond("/broken.manifest", 200, R"({"files": [{"relative": "a.txt", "md5": 5}]})");
    EXPECT_FALSE(runWithManifestAt("/broken.manifest"));
    EXPECT_TRUE(error.starts_with(u"manifest parse: ")) << toUtf8(error);
    EXPECT_EQ(logTail(), std::vector<std::string>{"ERROR: " + toUtf8(error)});
    EXPECT_TRUE(fs::is_empty(install.path()));
}

TEST_F(PatchRunTest, ManifestPathOutsideTheInstallationIsRefused) {
    const std::string md5 = md5Hex("escaped");
    server.respond("/escape.manifest", 200,
                   R"({"files": [{"relative": "../escaped.txt", "md5": ")" + md5 + R"("}]})");
    server.respond("/escaped.txt", 200, "escaped");
    EXPECT_FALSE(runWithManifestAt("/escape.manifest"));
    EXPECT_TRUE(error.starts_with(u"manifest parse: ")) << toUtf8(error);
    EXPECT_FALSE(fs::exists(install.path().parent_path() / "escaped.txt"));
    EXPECT_EQ(server.requestCount("/escaped.txt"), 0u);
}

TEST_F(PatchRunTest, ManifestWithoutFilesIsAnError) {
    server.respond("/empty.manifest", 200, R"({"files": [], "generated": 7})");
    EXPECT_FALSE(runWithManifestAt("/empty.manifest"));
    EXPECT_EQ(error, u"Manifest contains no files");
    EXPECT_EQ(logTail(), std::vector<std::string>{"ERROR: Manifest contains no files"});
    EXPECT_EQ(PatchEventRecorder::statuses(),
              (std::vector<std::string>{"Downloading manifest...", "Manifest contains no files"}));
}

TEST_F(PatchRunTest, OneFailedDownloadOfTenChangesNothingOnDisk) {
    PatchHostFolder tenFiles(hostDir.path(), "aurum");
    for (int i = 0; i < 10; ++i) {
        tenFiles.addFile("file" + std::to_string(i) + ".bin", "new contents " + std::to_string(i));
        writeFile(install / ("file" + std::to_string(i) + ".bin"), "old contents");
    }
    tenFiles.setPublished("file3.bin", false);
    host = tenFiles;
    const auto before = test::folderSnapshot(install.path());

    EXPECT_FALSE(run(PatchMode::Update));
    EXPECT_EQ(toUtf8(error), "That file is not on the server right now (HTTP 404)\n"
                             "while fetching the file file3.bin from 127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(test::folderSnapshot(install.path()), before);
    EXPECT_EQ(logTail(),
              (std::vector<std::string>{"ERROR: " + server.url("/aurum/file3.bin") + kDash +
                                            "That file is not on the server right now (HTTP 404)",
                                        "ERROR: Patch failed" + kDash + "1 / 10 downloads failed"}));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(server.requestCount("/aurum/file" + std::to_string(i) + ".bin"), 1u);
}

TEST_F(PatchRunTest, DownloadThatDoesNotMatchItsDigestFailsTheRun) {
    host.setManifestMd5("data\\readme.txt", md5Hex("something else"));
    EXPECT_FALSE(run(PatchMode::Install));
    EXPECT_EQ(toUtf8(error), "Hash mismatch after download: data\\readme.txt\n"
                             "while fetching the file data\\readme.txt from 127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(logTail(), (std::vector<std::string>{"ERROR: " + server.url("/aurum/data/readme.txt") + kDash +
                                                       "Hash mismatch after download: data\\readme.txt",
                                                   "ERROR: Patch failed" + kDash + "1 / 11 downloads failed"}));
    EXPECT_TRUE(test::folderSnapshot(install.path()).empty());
}

TEST_F(PatchRunTest, CorruptPayloadFailsBeforeAnythingIsWritten) {
    host.addFile("worlds/sub/pak_y.dat", "this is not a single-file payload");
    EXPECT_FALSE(run(PatchMode::Install));
    EXPECT_EQ(error, u"Invalid single-file PAK payload: worlds/sub/pak_y.dat");
    EXPECT_EQ(logTail(), (std::vector<std::string>{"ERROR: " + server.url("/aurum/worlds/sub/pak_y.dat") + kDash +
                                                       "Invalid single-file PAK payload: worlds/sub/pak_y.dat",
                                                   "ERROR: Patch failed" + kDash + "1 / 11 downloads failed"}));
    EXPECT_TRUE(test::folderSnapshot(install.path()).empty());
}

TEST_F(PatchRunTest, LinkPlantedAsTheStagingFolderIsReplacedNotFollowed) {
    TempDir elsewhere("planted-target");
    fs::create_directory_symlink(elsewhere.path(), install / ".mendly-staging");
    ASSERT_TRUE(run(PatchMode::Install));
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(install / ".mendly-staging")));
    EXPECT_EQ(readFile(install / "Kaltris.exe"), "MZ game binary v2");
}

TEST_F(PatchRunTest, FolderThatCannotBeCreatedFailsTheRunWithoutThrowing) {
    writeFile(install / "data", "a file where the folder belongs");
    EXPECT_FALSE(run(PatchMode::Install));
    const std::string message = "Cannot write: " + at("data/readme.txt");
    EXPECT_EQ(toUtf8(error), message);
    EXPECT_EQ(logTail(), std::vector<std::string>{"ERROR: data\\readme.txt" + kDash + message});
    EXPECT_EQ(readFile(install / "data"), "a file where the folder belongs");
}

TEST_F(PatchRunTest, TargetThatCannotBeReplacedKeepsTheCompletePartFile) {
    fs::create_directories(install / "Kaltris.exe");
    writeFile(install / "Kaltris.exe/keep", "mine");
    EXPECT_FALSE(run(PatchMode::Install));
    const std::string message = "Cannot rename part to: " + at("Kaltris.exe");
    EXPECT_EQ(toUtf8(error), message);
    EXPECT_EQ(logTail(), std::vector<std::string>{"ERROR: Kaltris.exe" + kDash + message});
    // The download stays staged for the next run.
    EXPECT_EQ(readFile(install / ".mendly-staging" / md5Hex("MZ game binary v2")), "MZ game binary v2");
    EXPECT_EQ(readFile(install / "Kaltris.exe/keep"), "mine");
}

TEST_F(PatchRunTest, ReplacedFileArrivesAsANewFileNotByRewritingTheOld) {
    installSampleClient();
    // A hard link to the old file keeps the old contents only when the new
    // file arrives under a new inode (rename), not when the old one is truncated.
    fs::create_hard_link(install / "Kaltris.exe", install / "old-link");
    writeFile(install / "Kaltris.exe", "MZ game binary v1");  // same inode, older contents
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(readFile(install / "Kaltris.exe"), "MZ game binary v2");
    EXPECT_EQ(readFile(install / "old-link"), "MZ game binary v1");
}

TEST_F(PatchRunTest, ArchiveWhoseMembersTheManifestAllDroppedIsDeletedAndTheRestStaysCurrent) {
    installSampleClient();
    host.removeFile("sound/s.wav");
    host.addFile("worlds/x.dat", "world x v3");
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_FALSE(fs::exists(install / "sound.pak"));
    EXPECT_EQ(archive("worlds")->readEntry("x.dat"), "world x v3");
    startOver();
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_TRUE(logTail().empty());  // nothing left to do
}

TEST_F(PatchRunTest, APayloadWhoseBodyIsAsLongAsItsContentsIsFetchedOnce) {
    const auto [contents, stream] = test::contentsAsLongAsTheirZlibStream();
    ASSERT_FALSE(contents.empty());
    host.addFile("scripts/pak_even.lua",
                 vfile::singleFilePayloadHeader(static_cast<std::uint32_t>(contents.size())) + stream);
    ASSERT_TRUE(run(PatchMode::Install)) << toUtf8(error);
    EXPECT_EQ(archive("scripts")->readEntry("even.lua"), contents);
    startOver();
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(server.requestCount("/aurum/scripts/pak_even.lua"), 1u);
    const std::vector<std::string> statuses = PatchEventRecorder::statuses();
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Verify done: all 10 synced file(s) match."), statuses.end());
}

TEST_F(PatchRunTest, LinksPlantedInTheInstallationAreReplacedNeverWrittenThrough) {
    installSampleClient();
    TempDir outside{"patch-outside"};
    const auto plant = [&](const fs::path& at, const std::string& name) {
        writeFile(outside / name, "not the updater's to write");
        fs::remove(at);
        fs::create_symlink(outside / name, at);
    };
    host.addFile("Kaltris.exe", "MZ game binary v3");
    host.addFile("data\\readme.txt", "read me v3");
    host.addFile("gfx/ui/b.dds", "bbb v3");
    host.publish();
    plant(install / "Kaltris.exe", "target");                           // the file itself
    fs::create_directories(install / kPatchStagingFolderName);
    plant(install / kPatchStagingFolderName / (md5Hex("read me v3") + ".part"), "part");  // a download's part file
    plant(install / "gfx.pak.part", "archive-part");                    // the archive's temporary name
    ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    for (const char* name : {"target", "part", "archive-part"})
        EXPECT_EQ(readFile(outside / name), "not the updater's to write") << name;
    EXPECT_FALSE(fs::is_symlink(install / "Kaltris.exe"));
    expectClientMatchesHost();
}

void recordAndCancelOnFirstCheckedEntry(std::int32_t done, std::int32_t total) {
    PatchEventRecorder::onProgress(done, total);
    if (done > 0) requestPatchCancel();
}

TEST_F(PatchRunTest, CancelDuringVerificationStopsBeforeAnyDownload) {
    setPatchCallbacks(&PatchEventRecorder::onStatus, &recordAndCancelOnFirstCheckedEntry);
    EXPECT_FALSE(run(PatchMode::Install));
    EXPECT_EQ(error, u"Cancelled");
    EXPECT_EQ(logTail(), std::vector<std::string>{"Patch cancelled during verify"});
    EXPECT_EQ(PatchEventRecorder::statuses(),
              (std::vector<std::string>{"Downloading manifest...", "Verifying local files..."}));
    EXPECT_EQ(server.totalRequests(), 1u);
    EXPECT_TRUE(fs::is_empty(install.path()));
}

TEST_F(PatchRunTest, CancelDuringDownloadsEndsQuietlyAndWritesNothing) {
    host.addFile("big.bin", "listed, but served slowly below");
    host.setPublished("big.bin", false);
    server.streamBody("/aurum/big.bin", 64, std::chrono::milliseconds(50), 10'000'000);
    std::jthread canceller([&] {
        if (server.waitForRequests("/aurum/big.bin", 1)) requestPatchCancel();
    });
    EXPECT_FALSE(run(PatchMode::Install));
    canceller.join();
    EXPECT_EQ(error, u"Cancelled");
    EXPECT_EQ(logTail(), std::vector<std::string>{"Patch cancelled during download"});
    EXPECT_TRUE(test::folderSnapshot(install.path()).empty());
}

TEST_F(PatchRunTest, ASecondRunOnTheSameInstallationIsRefusedAndTouchesNothing) {
    installSampleClient();
    host.addFile("Kaltris.exe", "MZ game binary v3");
    const auto before = test::folderSnapshot(install.path());
    const std::size_t requestsBefore = server.totalRequests();
    {
        platform::InstallLock other;  // the first run, still going
        ASSERT_EQ(other.acquire(install.path()), platform::InstallLock::Outcome::Held);
        EXPECT_FALSE(run(PatchMode::Update));
        EXPECT_EQ(error, u"Another program is updating this installation.");
        EXPECT_EQ(logTail(), std::vector<std::string>{"ERROR: Another program is updating this installation."});
        EXPECT_EQ(server.totalRequests(), requestsBefore);
    }
    EXPECT_EQ(test::folderSnapshot(install.path()), before);  // the lock's file went with it
    EXPECT_TRUE(run(PatchMode::Update)) << toUtf8(error);
    EXPECT_EQ(readFile(install / "Kaltris.exe"), "MZ game binary v3");
}

TEST_F(PatchRunTest, FoldersPlantedAtStagedNamesAreRemovedAndTheRunConverges) {
    host.publish();
    PatchManifest manifest;
    std::u16string parseError;
    ASSERT_TRUE(parseManifest(readFile(hostDir / "aurum.manifest"), manifest, parseError));
    const StagingArea staging(install.path());
    ASSERT_TRUE(staging.create());
    for (const ManifestEntry& entry : manifest.files) {
        const std::string name = stagedNameFor(entry);
        // A folder with something in it at the staged name, another at its ".part".
        for (const std::string& planted : {name, name + ".part"}) writeFile(staging.pathFor(planted) / "x", "x");
    }
    ASSERT_TRUE(run(PatchMode::Install)) << toUtf8(error);
    expectClientMatchesHost();
}

}  // namespace
}  // namespace mendly
