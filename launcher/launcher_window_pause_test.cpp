// Pause and resume through the real launcher window on a private Xvfb
// display, against a loopback patch host: the download limit set in the
// settings field, speed and time left while downloading, Pause keeping the
// staging folder, Resume fetching only what had not arrived, and closing the
// window during a download continuing at the next start. Screenshots are
// kept in the build folder (SNAPSHOT_DIR).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "display_suite.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

using test::stepLines;

// Waits in the page for a condition, up to 40 s.
const std::string kUntil = std::string(test::kPageUntil) +
    "const text = (s) => document.querySelector(s).textContent;\n"
    "const percent = () => parseInt(text('#task-status-count'), 10) || 0;\n";

// Sets the limit through the settings field, starts the install and waits
// until the small files are in and time left is shown.
constexpr const char* kStartLimitedInstall = R"JS(
await until(() => text('#btn-play-caption') === 'Install' && !document.querySelector('#btn-play').disabled);
document.querySelector('#btn-settings').click();
await until(() => !document.querySelector('#settings-panel').classList.contains('hidden'));
document.querySelector('#download-limit').value = '64K';
document.querySelector('#download-limit-save').click();
const saved = await until(() => text('#download-limit-message') === 'Saved: at most 64K per second.');
)JS";
constexpr const char* kWaitForTimeLeft = R"JS(
document.querySelector('#settings-close').click();
document.querySelector('#btn-play').click();
const timeLeft = await until(() => text('#task-transfer').endsWith(' left') && percent() >= 75);
const pauseShown = !document.querySelector('#btn-pause').classList.contains('hidden');
)JS";

class LauncherWindowPause : public test::DisplaySuite {
protected:
    void SetUp() override {
        fs::copy_file(LAUNCHER_EMPTY_CATALOG_EXE, folder / "launcher");
        hostFiles.addFile("Kaltris.exe", "MZ stand-in client");
        hostFiles.addFile("_version._", "2.5.1");
        hostFiles.addFile("ini/updater.ini", "[Updater]\r\n");
        // Small files arrive within a second or two at 64K/s; the two large
        // ones take about eight seconds more.
        for (int i = 0; i < 4; ++i) hostFiles.addFile(small(i), std::string(12000 + i, static_cast<char>('a' + i)));
        for (int i = 0; i < 2; ++i) hostFiles.addFile(large(i), std::string(256000 + i, static_cast<char>('p' + i)));
        hostFiles.publish();
        addSizesToManifest();
        server.serveFolder(served.path());
        test::writeFile(folder / "customlist.json",
                        R"({"servers":[{"name":"loop","desc":"Loopback Server","server":"aurum","patchBaseUrl":")" +
                            server.baseUrl() + R"(","launchExecutable":"Kaltris.exe"}]})");
    }

    // Sizes, as publish_patch writes them: the download's total, and with it
    // the time left.
    void addSizesToManifest() {
        const fs::path path = served.path() / "aurum.manifest";
        nlohmann::json manifest = nlohmann::json::parse(test::readFile(path));
        for (auto& entry : manifest["files"])
            entry["size"] = hostFiles.file(entry["relative"].get<std::string>()).served.size();
        test::writeFile(path, manifest.dump());
    }

    static std::string small(int i) { return "data/small" + std::to_string(i) + ".bin"; }
    static std::string large(int i) { return "data/large" + std::to_string(i) + ".bin"; }
    std::size_t requestsFor(const std::string& relative) const {
        return server.requestCount(hostFiles.fileUrlPath(relative));
    }
    fs::path installFolder() const { return folder / "clients" / "loop"; }
    static fs::path snapshot(const std::string& name) { return fs::path(SNAPSHOT_DIR) / name; }

    test::ProcessResult run(const std::string& steps) {
        return runScript(folder.path(), steps, "/usr/bin:/bin", std::chrono::seconds(120));
    }

    void expectInstalledOnceEachExceptTheLargeFiles() {
        for (const auto& file : hostFiles.files())
            EXPECT_EQ(test::readFile(installFolder() / file.relative), file.served) << file.relative;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(requestsFor(small(i)), 1u) << small(i);
        for (int i = 0; i < 2; ++i) EXPECT_EQ(requestsFor(large(i)), 2u) << large(i);
        EXPECT_FALSE(fs::exists(installFolder() / ".mendly-staging"));
        const std::string settings = test::readFile(folder / "launcher-settings.json");
        EXPECT_EQ(settings.find("pausedDownload"), std::string::npos) << settings;
    }

    test::TempDir folder{"launcher_pause"};
    test::TempDir served{"launcher_pause_host"};
    test::PatchHostFolder hostFiles{served.path(), "aurum"};
    test::LoopbackServer server;
};


TEST_F(LauncherWindowPause, PauseKeepsWhatArrivedAndResumeFetchesOnlyTheRest) {
    // The first answer for one large file comes late: a transfer still
    // waiting for its answer ends only once it arrives, so "Pausing..." stays
    // on the screen long enough to be seen.
    auto firstAnswer = std::make_shared<std::atomic<bool>>(true);
    server.route(hostFiles.fileUrlPath(large(1)), [firstAnswer, bytes = hostFiles.file(large(1)).served](
                                                      const test::LoopbackRequest&, test::LoopbackReply& reply) {
        if (firstAnswer->exchange(false)) std::this_thread::sleep_for(std::chrono::seconds(8));
        reply.body = bytes;
    });
    const std::string steps = std::string(kUntil) + kStartLimitedInstall + "return saved;\n---\n#snapshot " +
                              snapshot("launcher-settings.png").string() + "\n---\n" + kUntil + kWaitForTimeLeft +
                              "return [timeLeft, pauseShown];\n---\n#snapshot " +
                              snapshot("launcher-downloading.png").string() + "\n---\n" + kUntil + R"JS(
document.querySelector('#btn-pause').click();
return await until(() => text('#btn-play-caption') === 'Pausing...');
---
#snapshot )JS" + snapshot("launcher-pausing.png").string() + "\n---\n" + kUntil + R"JS(
const paused = await until(() => text('#btn-play-caption') === 'Resume' && text('#task-status-label') === 'Paused');
await new Promise(r => setTimeout(r, 400));  // the button's colour change, for the picture
return [paused, percent() >= 75, text('#task-transfer').includes(' of '),
        document.querySelector('#btn-pause').classList.contains('hidden')];
---
#snapshot )JS" + snapshot("launcher-paused.png").string() + "\n---\n" + kUntil + R"JS(
const staged = JSON.parse(await xcall('setDownloadLimit', ''));
document.querySelector('#btn-play').click();
const done = await until(() => text('#btn-play-caption') === 'Launch');
return [staged.ok, done];
)JS";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    const std::vector<std::string> expected = {
        "step 1: true", "step 2: snapshot written", "step 3: [true,true]",           "step 4: snapshot written",
        "step 5: true", "step 6: snapshot written", "step 7: [true,true,true,true]", "step 8: snapshot written",
        "step 9: [true,true]"};
    EXPECT_EQ(stepLines(r.out), expected) << r.out << r.err;
    EXPECT_TRUE(stepLines(r.err).empty());
    expectInstalledOnceEachExceptTheLargeFiles();
    const auto log = test::logMessages(folder.path());
    for (const char* line : {"Download limit set to 64K per second", "Download paused by user",
                             "Resuming the paused download of loop", "Download limit removed"})
        EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
}

TEST_F(LauncherWindowPause, ClosingTheWindowDuringADownloadPausesAndTheNextStartContinues) {
    const std::string first = std::string(kUntil) + kStartLimitedInstall + kWaitForTimeLeft +
                              "await xcall('setDownloadLimit', '');\nawait xcall('windowClose');\n"
                              "return [saved, timeLeft];\n";
    const test::ProcessResult closed = run(first);
    ASSERT_FALSE(closed.timedOut) << closed.out << closed.err;
    EXPECT_EQ(closed.exitCode, 0);
    const std::string settings = test::readFile(folder / "launcher-settings.json");
    EXPECT_NE(settings.find(R"("name": "loop")"), std::string::npos) << settings;
    EXPECT_TRUE(fs::is_directory(installFolder() / ".mendly-staging"));

    // The next start continues on its own; no click is needed.
    const std::string second = std::string(kUntil) + R"JS(
const done = await until(() => text('#btn-play-caption') === 'Launch');
return done;
)JS";
    const test::ProcessResult continued = run(second);
    ASSERT_FALSE(continued.timedOut) << continued.out << continued.err;
    EXPECT_EQ(stepLines(continued.out), std::vector<std::string>{"step 1: true"}) << continued.out << continued.err;
    expectInstalledOnceEachExceptTheLargeFiles();
}

}  // namespace
}  // namespace mendly
