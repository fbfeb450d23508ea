// A patch host that fails at each stage of an update (the manifest, one file,
// every changed file): it drops the connection, answers 404 or 500, serves the
// wrong bytes, cuts a body short or stalls. Each failing run must end with its
// own message, leave the installation exactly as it was (the user's INI files
// included), and the next good run must bring the client to the manifest.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "log/log_file.h"
#include "log/text.h"
#include "net/http_testing.h"
#include "patch/cancel_flag.h"
#include "patch/patch_run.h"
#include "support/child_process.h"
#include "support/client_compare.h"
#include "support/file_text_wait.h"
#include "support/faulty_patch_host.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"
#include "support/tidewright_sandbox.h"
#include "support/two_version_client.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using Fault = test::FaultyPatchHost::Fault;

const std::string kDash = " \xE2\x80\x94 ";
const std::string kDropped = "The connection dropped before the download finished. Try again in a moment.";
const std::string kTimedOut = "The connection timed out. Check your internet connection and try again. (error 28)";
const std::string kUserIni = "[user]\nname=Player One\nvolume=7\n";
const std::string kUserVideo = "[video]\nwidth=2560\n";

test::TwoVersionClientOptions smallClient() {
    test::TwoVersionClientOptions o;
    o.looseFiles = 6;
    o.maxLooseBytes = 40 << 10;
    o.stableFiles = 0;
    o.gfxMembers = 6;
    o.worldMembers = 4;
    o.soundMembers = 2;
    return o;
}

// The relative paths an update from version 1 to 2 fetches: those whose bytes
// differ (or that only version 2 has), without the user's INI files.
std::vector<std::string> changedFiles(const test::PatchHostFolder& v1, const test::PatchHostFolder& v2) {
    std::vector<std::string> out;
    const auto userIni = test::twoVersionClientUserIniFiles();
    for (const auto& file : v2.files()) {
        if (std::find(userIni.begin(), userIni.end(), file.relative) != userIni.end()) continue;
        const auto& old = v1.files();
        const auto found = std::find_if(old.begin(), old.end(), [&](const auto& f) { return f.relative == file.relative; });
        if (found == old.end() || found->served != file.served) out.push_back(file.relative);
    }
    return out;
}

enum class Stage { Manifest, OneFile, EveryChangedFile };

struct NetworkCase {
    Stage stage;
    Fault fault;
    const char* name;
};

void PrintTo(const NetworkCase& c, std::ostream* out) { *out << c.name; }

// The sentence tidewright shows for `fault`; for wrong bytes it depends on the stage.
std::string sentenceFor(Fault fault) {
    switch (fault) {
        case Fault::DropConnection: return kDropped + " (error 52)";
        case Fault::TruncatedBody: return kDropped + " (error 18)";
        case Fault::NotFound: return "That file is not on the server right now (HTTP 404)";
        case Fault::ServerError: return "The server ran into a problem. Try again later (HTTP 500)";
        default: return "";
    }
}

class NetworkFaultTest : public ::testing::TestWithParam<NetworkCase> {
protected:
    void SetUp() override {
        test::fillTwoVersionClient(v1, 1, smallClient());
        test::fillTwoVersionClient(v2, 2, smallClient());
        v1.publish();
        host.serve(v1);
        sandbox.writeCustomList({{"demo", host.baseUrl()}});
        const auto installed = sandbox.run({"--update-single", "demo"});
        ASSERT_EQ(installed.exitCode, 0) << installed.out;
        // The user's own settings, which no update may touch.
        test::writeFile(client() / "ini" / "user.ini", kUserIni);
        test::writeFile(client() / "ini" / "video.ini", kUserVideo);
        before = test::folderSnapshot(client());
        v2.publish();
        host.serve(v2);
    }

    fs::path client() const { return sandbox.client("demo"); }

    void expectUserIniKept() const {
        EXPECT_EQ(test::readFile(client() / "ini" / "user.ini"), kUserIni);
        EXPECT_EQ(test::readFile(client() / "ini" / "video.ini"), kUserVideo);
    }

    test::TempDir hostRoot{"fault-host"};
    test::FaultyPatchHost host{hostRoot.path()};
    test::PatchHostFolder v1{hostRoot.path(), "demo"};
    test::PatchHostFolder v2{hostRoot.path(), "demo"};
    test::TidewrightSandbox sandbox{TIDEWRIGHT_EXE};
    std::vector<std::pair<std::string, std::string>> before;
};

TEST_P(NetworkFaultTest, FailedRunKeepsTheClientAndTheNextGoodRunConverges) {
    const NetworkCase c = GetParam();
    const std::vector<std::string> changed = changedFiles(v1, v2);
    ASSERT_GE(changed.size(), 8u);
    std::vector<std::string> faulted;
    if (c.stage == Stage::Manifest) {
        host.setFault(v2.manifestUrlPath(), c.fault);
    } else {
        faulted = c.stage == Stage::OneFile ? std::vector<std::string>{"data/file_02.bin"} : changed;
        for (const std::string& relative : faulted) host.setFault(v2.fileUrlPath(relative), c.fault);
    }

    const auto failed = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(failed.exitCode, 1) << failed.out;
    const std::string log = sandbox.log();
    const std::string message = sentenceFor(c.fault);
    if (c.stage == Stage::Manifest) {
        if (c.fault == Fault::WrongBytes) {
            EXPECT_NE(failed.out.find("\nError: manifest parse: "), std::string::npos) << failed.out;
            EXPECT_NE(log.find("ERROR: manifest parse: "), std::string::npos) << log;
        } else {
            EXPECT_NE(failed.out.find("\nError: " + message + "\n"), std::string::npos) << failed.out;
            EXPECT_NE(log.find("ERROR: " + host.baseUrl() + "/demo.manifest" + kDash + message + "\n"),
                      std::string::npos)
                << log;
        }
    } else {
        // Every faulted file failed on its own line; the run shows one of those failures.
        bool shownOne = false;
        for (const std::string& relative : faulted) {
            const std::string expected =
                c.fault == Fault::WrongBytes ? "Hash mismatch after download: " + relative : message;
            EXPECT_NE(log.find("ERROR: " + host.baseUrl() + v2.fileUrlPath(relative) + kDash + expected + "\n"),
                      std::string::npos)
                << relative << "\n" << log;
            shownOne = shownOne || failed.out.find("\nError: " + expected + "\n") != std::string::npos;
        }
        EXPECT_TRUE(shownOne) << failed.out;
        EXPECT_NE(log.find("ERROR: Patch failed" + kDash + std::to_string(faulted.size()) + " / " +
                           std::to_string(changed.size()) + " downloads failed\n"),
                  std::string::npos)
            << log;
    }
    EXPECT_NE(failed.out.find("Updated 0, skipped 0, failed 1.\n"), std::string::npos) << failed.out;
    // Nothing is written before every download succeeded.
    EXPECT_EQ(test::folderSnapshot(client()), before);

    host.clearFaults();
    const auto good = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(good.exitCode, 0) << good.out;
    EXPECT_NE(good.out.find("  Verify done: " + std::to_string(changed.size()) + " file(s) need patching\n"),
              std::string::npos)
        << good.out;
    EXPECT_EQ(test::clientDifferences(client(), v2, test::IniScope::KeptOnly), std::vector<std::string>{});
    expectUserIniKept();
}

// A manifest is input from the network: an entry that climbs out of the
// installation folder would overwrite the user's or the programs' own files.
class HostileManifestFaultTest : public NetworkFaultTest {};

TEST_F(HostileManifestFaultTest, EntryClimbingOutOfTheInstallationIsRefusedBeforeAnythingIsFetched) {
    const std::string customList = test::readFile(sandbox.folder() / "customlist.json");
    const std::string program = test::readFile(sandbox.program());
    for (const std::string escape : {"../../customlist.json", "..\\..\\tidewright", "data/../../../x.bin"}) {
        test::PatchHostFolder hostile = v2;
        hostile.addFile(escape, "{}");
        hostile.setPublished(escape, false);  // listed only; nothing is written outside the host folder
        hostile.publish();
        host.resetFileRequests();
        const auto r = sandbox.run({"--update-single", "demo"});
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_NE(r.out.find("\nError: manifest parse: files["), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("unsafe path"), std::string::npos) << r.out;
        EXPECT_EQ(host.fileRequests(), 0u);
        EXPECT_EQ(test::readFile(sandbox.folder() / "customlist.json"), customList);
        EXPECT_EQ(test::readFile(sandbox.program()), program);
        EXPECT_EQ(test::folderSnapshot(client()), before);
    }
}

// A host that sends more for a file than the manifest declares (here a body
// without end) is cut off at the declared size: that download fails as a
// wrong file instead of filling the disk, and nothing in the client changes.
class DeclaredSizeFaultTest : public NetworkFaultTest {};

TEST_F(DeclaredSizeFaultTest, BodyLongerThanItsDeclaredSizeIsCutOffAndFailsTheRun) {
    auto manifest = nlohmann::json::parse(v2.manifestJson());
    for (auto& entry : manifest.at("files"))
        entry["size"] = v2.file(entry.at("relative").get<std::string>()).served.size();
    test::writeFile(hostRoot.path() / v2.manifestUrlPath().substr(1), manifest.dump());
    const std::string relative = "data/file_02.bin";
    const std::string path = v2.fileUrlPath(relative);
    host.server().streamBody(path, 64 << 10, std::chrono::milliseconds(1));
    const std::size_t changed = changedFiles(v1, v2).size();

    const auto failed = sandbox.run({"--update-single", "demo"}, std::chrono::seconds(30));
    EXPECT_FALSE(failed.timedOut);
    EXPECT_EQ(failed.exitCode, 1) << failed.out;
    const std::string message = "Hash mismatch after download: " + relative;
    EXPECT_NE(failed.out.find("\nError: " + message + "\n"), std::string::npos) << failed.out;
    const std::string log = sandbox.log();
    EXPECT_NE(log.find("ERROR: " + host.baseUrl() + path + kDash + message + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR: Patch failed" + kDash + "1 / " + std::to_string(changed) + " downloads failed\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(test::folderSnapshot(client()), before);

    host.setFault(path, Fault::None);
    const auto good = sandbox.run({"--update-single", "demo"});
    EXPECT_EQ(good.exitCode, 0) << good.out;
    EXPECT_EQ(test::clientDifferences(client(), v2, test::IniScope::KeptOnly), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(client() / test::kStagingFolder));
    expectUserIniKept();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStageAndFault, NetworkFaultTest,
    ::testing::Values(NetworkCase{Stage::Manifest, Fault::DropConnection, "ManifestDropped"},
                      NetworkCase{Stage::Manifest, Fault::NotFound, "Manifest404"},
                      NetworkCase{Stage::Manifest, Fault::ServerError, "Manifest500"},
                      NetworkCase{Stage::Manifest, Fault::WrongBytes, "ManifestHalfServed"},
                      NetworkCase{Stage::Manifest, Fault::TruncatedBody, "ManifestCutShort"},
                      NetworkCase{Stage::OneFile, Fault::DropConnection, "OneFileDropped"},
                      NetworkCase{Stage::OneFile, Fault::NotFound, "OneFile404"},
                      NetworkCase{Stage::OneFile, Fault::ServerError, "OneFile500"},
                      NetworkCase{Stage::OneFile, Fault::WrongBytes, "OneFileWrongDigest"},
                      NetworkCase{Stage::OneFile, Fault::TruncatedBody, "OneFileCutShort"},
                      NetworkCase{Stage::EveryChangedFile, Fault::DropConnection, "ManyFilesDropped"},
                      NetworkCase{Stage::EveryChangedFile, Fault::NotFound, "ManyFiles404"},
                      NetworkCase{Stage::EveryChangedFile, Fault::ServerError, "ManyFiles500"},
                      NetworkCase{Stage::EveryChangedFile, Fault::WrongBytes, "ManyFilesWrongDigest"},
                      NetworkCase{Stage::EveryChangedFile, Fault::TruncatedBody, "ManyFilesCutShort"}),
    [](const ::testing::TestParamInfo<NetworkCase>& info) { return std::string(info.param.name); });

// A host that stops sending: the programs give up after 30 s without data.
// These cases run the patch engine in this process, where that limit can be
// shortened, so that each stall ends within seconds.
class StallFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetPatchCancel();
        setHttpStallTimeoutForTesting(std::chrono::seconds(1));
        ASSERT_TRUE(LogFile::open(logDir.path()));
        test::fillTwoVersionClient(v1, 1, smallClient());
        test::fillTwoVersionClient(v2, 2, smallClient());
        v1.publish();
        host.serve(v1);
        ASSERT_TRUE(run(PatchMode::Install)) << toUtf8(error);
        test::writeFile(install.path() / "ini" / "user.ini", kUserIni);
        before = test::folderSnapshot(install.path());
        v2.publish();
        host.serve(v2);
    }
    void TearDown() override {
        setHttpStallTimeoutForTesting(std::chrono::seconds(30));
        LogFile::close();
    }

    // A stall times out and is asked again (twice) like any transient
    // failure; the pauses between are kept short here.
    bool run(PatchMode mode) {
        error.clear();
        PatchRunOptions options;
        options.retry.firstWait = std::chrono::milliseconds(10);
        return runPatch(nullptr, toWide(host.baseUrl() + v2.manifestUrlPath()),
                        toWide(host.baseUrl() + v2.filesUrlPath()), TrustedKeys{}, install.path(), mode, options,
                        error);
    }

    // Runs once against the stalled host, then once more after the stall is gone.
    void expectStallFailsInTimeThenConverges() {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(run(PatchMode::Update));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(toUtf8(error).substr(0, toUtf8(error).find('\n')), kTimedOut);
        EXPECT_LT(took, std::chrono::seconds(15));
        EXPECT_EQ(test::folderSnapshot(install.path()), before);

        host.clearFaults();
        ASSERT_TRUE(run(PatchMode::Update)) << toUtf8(error);
        EXPECT_EQ(test::clientDifferences(install.path(), v2, test::IniScope::KeptOnly), std::vector<std::string>{});
        EXPECT_EQ(test::readFile(install.path() / "ini" / "user.ini"), kUserIni);
    }

    test::TempDir logDir{"fault-stall-log"};
    test::TempDir install{"fault-stall-client"};
    test::TempDir hostRoot{"fault-stall-host"};
    test::FaultyPatchHost host{hostRoot.path()};
    test::PatchHostFolder v1{hostRoot.path(), "demo"};
    test::PatchHostFolder v2{hostRoot.path(), "demo"};
    std::vector<std::pair<std::string, std::string>> before;
    std::u16string error;
};

TEST_F(StallFaultTest, ManifestThatNeverAnswersTimesOut) {
    host.setFault(v2.manifestUrlPath(), Fault::StallBeforeHeaders);
    expectStallFailsInTimeThenConverges();
}

TEST_F(StallFaultTest, OneFileThatStopsHalfWayTimesOut) {
    host.setFault(v2.fileUrlPath("data/file_00.bin"), Fault::StallMidBody);
    expectStallFailsInTimeThenConverges();
    EXPECT_NE(test::readFile(logDir.path() / "launcher.log")
                  .find("ERROR: " + host.baseUrl() + v2.fileUrlPath("data/file_00.bin") + kDash + kTimedOut),
              std::string::npos);
}

TEST_F(StallFaultTest, SeveralFilesStallingTimeOutAndTheOthersStillArrive) {
    const auto changed = changedFiles(v1, v2);
    ASSERT_GT(changed.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) host.setFault(v2.fileUrlPath(changed[i]), Fault::StallBeforeHeaders);
    expectStallFailsInTimeThenConverges();
    const std::string log = test::readFile(logDir.path() / "launcher.log");
    EXPECT_NE(log.find("ERROR: Patch failed" + kDash + "4 / " + std::to_string(changed.size()) + " downloads failed"),
              std::string::npos)
        << log;
}

// Mirrors: the entry's primary host and its mirrors serve the same files; a
// dead, slow or wrong host costs the run nothing while another can serve.
class MirrorFailoverTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::TwoVersionClientOptions o = smallClient();
        o.maxLooseBytes = 160 << 10;  // files large enough that a crawling host cannot finish them
        test::fillTwoVersionClient(v1, 1, o);
        v1.publish();
        host.serve(v1);
    }

    void writeEntry(const std::string& primary, const std::vector<std::string>& mirrors) const {
        nlohmann::json entry = {{"name", "demo"}, {"desc", "Demo Server"}, {"server", "demo"},
                                {"patchBaseUrl", primary}, {"launchExecutable", "kaltrisclient.exe"},
                                {"mirrors", mirrors}};
        test::writeFile(sandbox.folder() / "customlist.json", nlohmann::json{{"servers", {entry}}}.dump());
    }
    // The install succeeded and holds exactly what the hosts publish.
    void expectInstalled(const test::ProcessResult& r) const {
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_NE(r.out.find("Finished demo.\n"), std::string::npos) << r.out;
        EXPECT_EQ(test::clientDifferences(sandbox.client("demo"), v1, test::IniScope::KeptOnly),
                  std::vector<std::string>{});
    }
    static std::string hostOf(const std::string& base) { return base.substr(base.find("://") + 3); }

    test::TempDir hostRoot{"mirror-host"};
    test::FaultyPatchHost host{hostRoot.path()};
    test::PatchHostFolder v1{hostRoot.path(), "demo"};
    test::TidewrightSandbox sandbox{TIDEWRIGHT_EXE};
};

TEST_F(MirrorFailoverTest, ADeadPrimaryIsPassedOverAtOnceAndTheMirrorServesTheInstall) {
    const std::string dead = "http://127.0.0.1:" + std::to_string(test::unusedLoopbackPort());
    writeEntry(dead, {host.baseUrl()});
    const auto r = sandbox.run({"--update-single", "demo"});
    expectInstalled(r);
    EXPECT_EQ(r.out.find("Retrying"), std::string::npos) << "another host was left: no pause" << r.out;
    const std::string log = sandbox.log();
    EXPECT_NE(log.find("Patch hosts: " + hostOf(dead) + ", " + hostOf(host.baseUrl()) + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("WARNING: Patch host " + hostOf(dead) + " is not used for the rest of this run" + kDash +
                       "Could not connect to the server."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Patch host " + hostOf(dead) + " served 0 file(s), 0 bytes, demoted\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Patch host " + hostOf(host.baseUrl()) + " served "), std::string::npos) << log;
    EXPECT_GT(host.fileRequests(), 0u);
}

TEST_F(MirrorFailoverTest, ACrawlingMirrorIsDemotedAndItsFilesComeFromTheOtherHost) {
    // The mirror: the patch host program sending every body at 2 KiB/s.
    test::TempDir scratch("mirror-crawl");
    const std::uint16_t port = test::unusedLoopbackPort();
    test::ChildProcess crawler;
    ASSERT_TRUE(crawler.start(fs::path(TOOLS_DIR) / "patch_host" / "patch_host",
                              {"--root", hostRoot.path().string(), "--port", std::to_string(port), "--rate", "2048",
                               "--log"},
                              {}, scratch / "host.txt"));
    const std::string mirror = "http://127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(test::waitForFileText(scratch / "host.txt", mirror, std::chrono::seconds(30)));
    // Every answer of the primary comes a little late, so that transfers overlap and both hosts get files.
    host.setDelay(std::chrono::milliseconds(300));
    writeEntry(host.baseUrl(), {mirror});

    const auto r = sandbox.run({"--update-single", "demo"}, std::chrono::seconds(120));
    expectInstalled(r);
    const std::string log = sandbox.log();
    EXPECT_NE(log.find("WARNING: Patch host " + hostOf(mirror) + " is not used for the rest of this run" + kDash +
                       "it delivers "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Patch host " + hostOf(host.baseUrl()) + " served "), std::string::npos) << log;
    EXPECT_NE(log.find(", demoted\n"), std::string::npos) << log;
}

// The engine in this process: a mirror that serves wrong bytes for every file
// is demoted on its first one, which then comes from the primary; nothing of
// it reaches the installation.
TEST(MirrorDigestTest, AFileWithTheWrongDigestFromAMirrorIsFetchedFromAnotherHost) {
    resetPatchCancel();
    test::TempDir logDir("mirror-digest-log");
    test::TempDir install("mirror-digest-client");
    test::TempDir root("mirror-digest-host");
    test::PatchHostFolder v1(root.path(), "demo");
    test::fillTwoVersionClient(v1, 1, smallClient());
    v1.publish();
    test::FaultyPatchHost primary(root.path());
    test::FaultyPatchHost mirror(root.path());
    primary.serve(v1);
    mirror.serve(v1);
    primary.setDelay(std::chrono::milliseconds(200));  // transfers overlap: the mirror gets files too
    for (const auto& file : v1.files()) mirror.setFault(v1.fileUrlPath(file.relative), Fault::WrongBytes);
    ASSERT_TRUE(LogFile::open(logDir.path()));

    PatchRunOptions options;
    options.mirrors = {{toWide(mirror.baseUrl() + v1.manifestUrlPath()), toWide(mirror.baseUrl() + v1.filesUrlPath() + "/")}};
    options.serverName = u"Demo Server";
    std::u16string error;
    const bool ok = runPatch(nullptr, toWide(primary.baseUrl() + v1.manifestUrlPath()),
                             toWide(primary.baseUrl() + v1.filesUrlPath() + "/"), TrustedKeys{}, install.path(),
                             PatchMode::Install, options, error);
    LogFile::close();
    EXPECT_TRUE(ok) << toUtf8(error);
    EXPECT_EQ(test::clientDifferences(install.path(), v1, test::IniScope::KeptOnly), std::vector<std::string>{});
    const std::string log = test::readFile(logDir.path() / "launcher.log");
    EXPECT_GT(mirror.server().totalRequests(), 0u) << "the mirror was asked for files";
    EXPECT_NE(log.find("WARNING: " + mirror.baseUrl() + "/demo/"), std::string::npos) << log;
    EXPECT_NE(log.find(kDash + "Hash mismatch after download: "), std::string::npos) << log;
    EXPECT_NE(log.find("is not used for the rest of this run" + kDash + "Hash mismatch after download: "),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("ERROR: "), std::string::npos) << log;
}

}  // namespace
}  // namespace mendly
