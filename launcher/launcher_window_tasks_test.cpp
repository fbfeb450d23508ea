// The launcher program driven through its window on a private Xvfb display,
// against a loopback patch host: installing, playing (a stand-in "wine" on
// PATH records how the game was started), cancelling, a failing host, and the
// duplicate prompt and delete question. Message boxes are answered by the
// test-only options and written to stderr. Screenshots are kept in the build
// folder (SNAPSHOT_DIR) for a person to look at.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "display_suite.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
}

// Waits in the page for a condition, up to 40 s.
const std::string kUntil = std::string(test::kPageUntil) +
    "const text = (s) => document.querySelector(s).textContent;\n";

class LauncherWindowTasks : public test::DisplaySuite {
protected:
    void SetUp() override {
        fs::copy_file(LAUNCHER_EMPTY_CATALOG_EXE, folder / "launcher");
        // The game's files as the patch host publishes them.
        hostFiles.addFile("Kaltris.exe", "MZ stand-in client");
        hostFiles.addFile("_version._", "2.5.1");
        hostFiles.addFile("ini/updater.ini", "[Updater]\r\n");
        for (int i = 0; i < 6; ++i)
            hostFiles.addFile("data/part" + std::to_string(i) + ".bin", std::string(40000 + i, static_cast<char>('a' + i)));
        hostFiles.publish();
        servePublishedSlowly(std::chrono::milliseconds(400));
        test::writeFile(folder / "customlist.json",
                        R"({"servers":[{"name":"loop","desc":"Loopback Server","server":"aurum","patchBaseUrl":")" +
                            server.baseUrl() + R"(","launchExecutable":"Kaltris.exe"}]})");
        // The stand-in for wine: records its working folder, its arguments,
        // and whether it inherited the setting the launcher made for its own
        // window.
        test::writeFile(bin / "wine", "#!/bin/sh\necho \"$PWD|$*|GDK_GL=${GDK_GL-unset}\" >> \"" +
                                          (folder / "game-started.txt").string() + "\"\n");
        fs::permissions(bin / "wine", fs::perms::owner_all);
    }

    // The Nth published file answered after N times `delay` (the manifest at
    // once): the downloads run in parallel, so files arrive one by one and
    // the page shows the download in progress for a while.
    void servePublishedSlowly(std::chrono::milliseconds delay) {
        server.serveFolder(served.path());
        std::chrono::milliseconds wait{0};
        for (const auto& file : hostFiles.files()) {
            wait += delay;
            server.route(hostFiles.fileUrlPath(file.relative), [bytes = file.served, wait](const test::LoopbackRequest&,
                                                                                         test::LoopbackReply& reply) {
                std::this_thread::sleep_for(wait);
                reply.body = bytes;
            });
        }
    }

    fs::path installFolder() const { return folder / "clients" / "loop"; }

    void installLocally() {
        for (const auto& file : hostFiles.files()) test::writeFile(installFolder() / file.relative, file.served);
    }

    test::ProcessResult run(const std::string& steps, std::vector<std::string> extra = {}) {
        const fs::path script = folder / "steps.js";
        test::writeFile(script, steps);
        test::ProcessOptions options;
        options.args = {"--skip-self-update", "--test-answer-dialogs", "--test-script", script.string()};
        options.args.insert(options.args.end(), extra.begin(), extra.end());
        options.env = {{"DISPLAY", display->name()},
                       {"GDK_BACKEND", "x11"},
                       {"PATH", bin.string() + ":/usr/bin:/bin"},
                       {"DBUS_SESSION_BUS_ADDRESS", ""}};
        options.workingDirectory = folder.path();
        options.timeLimit = std::chrono::seconds(120);
        return test::runProcess(folder / "launcher", options);
    }

    static fs::path snapshot(const std::string& name) { return fs::path(SNAPSHOT_DIR) / name; }

    void expectInstalledAsPublished() {
        for (const auto& file : hostFiles.files())
            EXPECT_EQ(test::readFile(installFolder() / file.relative), file.served) << file.relative;
    }

    test::TempDir folder{"launcher_tasks"};
    test::TempDir served{"launcher_tasks_host"};
    fs::path bin = folder / "bin";
    test::PatchHostFolder hostFiles{served.path(), "aurum"};
    test::LoopbackServer server;
};


TEST_F(LauncherWindowTasks, InstallShowsBusyStatusAndProgressAndEndsUpToDate) {
    fs::remove(snapshot("launcher_installing.png"));
    fs::remove(snapshot("launcher_installed.png"));
    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption') === 'Install' && !document.querySelector('#btn-play').disabled);
document.querySelector('#btn-play').click();
const sawBusy = await until(() => text('#btn-play-caption') === 'Installing...');
const sawDownload = await until(() => text('#task-status-label').startsWith('Downloading files') &&
                                      parseFloat(document.querySelector('#patch-progress-fill').style.width) > 0);
return [sawBusy, sawDownload];
---
#snapshot )JS" + snapshot("launcher_installing.png").string() + "\n---\n" + kUntil + R"JS(
const done = await until(() => text('#btn-play-caption') === 'Launch' &&
  document.querySelector('.server-tile .tile-status.current') !== null);
return [done, text('#task-status-label'), document.querySelector('.server-tile').dataset.installed];
---
#snapshot )JS" + snapshot("launcher_installed.png").string() + "\n";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> expected = {"step 1: [true,true]", "step 2: snapshot written",
                                               "step 3: [true,\"\",\"1\"]", "step 4: snapshot written"};
    EXPECT_EQ(linesStartingWith(r.out, "step "), expected) << r.out << r.err;
    EXPECT_TRUE(linesStartingWith(r.err, "message box:").empty()) << r.err;
    expectInstalledAsPublished();
    const auto log = test::logMessages(folder.path());
    EXPECT_NE(std::find(log.begin(), log.end(), "--- Install ---"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "Server: loop (aurum)"), log.end());
}

TEST_F(LauncherWindowTasks, PlayUpdatesTheInstallationAndThenStartsTheGame) {
    installLocally();
    test::writeFile(installFolder() / "data" / "part3.bin", "stale");
    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption') === 'Launch');
document.querySelector('#btn-play').click();
const patching = await until(() => text('#btn-play-caption') === 'Patching...');
const idle = await until(() => text('#btn-play-caption') === 'Launch');
return [patching, idle];
)JS";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(linesStartingWith(r.out, "step "), std::vector<std::string>{"step 1: [true,true]"}) << r.out << r.err;
    EXPECT_TRUE(linesStartingWith(r.err, "message box:").empty()) << r.err;
    expectInstalledAsPublished();
    // wine ran Kaltris.exe in the installation folder, once, in the
    // player's own environment.
    EXPECT_EQ(test::readFile(folder / "game-started.txt"),
              installFolder().string() + "|" + (installFolder() / "Kaltris.exe").string() + "|GDK_GL=unset\n");
}

TEST_F(LauncherWindowTasks, CancelDuringASlowDownloadEndsCancelledWithoutABox) {
    server.streamBody(hostFiles.fileUrlPath("data/part2.bin"), 256, std::chrono::milliseconds(100), 40002);
    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption') === 'Install' && !document.querySelector('#btn-play').disabled);
document.querySelector('#btn-play').click();
await until(() => text('#task-status-label').startsWith('Downloading files'));
document.querySelector('#btn-play').click();
const cancelling = await until(() => text('#btn-play-caption') === 'Cancelling...');
const cancelled = await until(() => text('#task-status-label') === 'Cancelled');
await new Promise(r => setTimeout(r, 300));
return [cancelling, cancelled, text('#btn-play-caption')];
)JS";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(linesStartingWith(r.out, "step "), std::vector<std::string>{"step 1: [true,true,\"Install\"]"})
        << r.out << r.err;
    EXPECT_TRUE(linesStartingWith(r.err, "message box:").empty()) << r.err;
    const auto log = test::logMessages(folder.path());
    EXPECT_NE(std::find(log.begin(), log.end(), "Patch cancelled by user"), log.end());
}

TEST_F(LauncherWindowTasks, AFailedRunShowsItsErrorInThePageAndNoBox) {
    server.respond(hostFiles.fileUrlPath("data/part4.bin"), 500, "broken");
    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption') === 'Install' && !document.querySelector('#btn-play').disabled);
document.querySelector('#btn-play').click();
await until(() => text('#btn-play-caption') === 'Installing...');
// The run ends, then the check of the host that follows a failure answers;
// what arrived stays staged, so the install is offered again as Resume.
const idle = await until(() => text('#btn-play-caption') === 'Resume' && text('#server-version') === '2.5.1' &&
                               getComputedStyle(document.querySelector('#entry-problem')).display !== 'none');
return [idle, text('#task-status-label'), text('#entry-problem-caption'), text('#entry-problem-detail').includes('500'),
        text('.server-tile .tile-problem')];
---
#snapshot )JS" + snapshot("launcher_install_failed.png").string() + "\n";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(linesStartingWith(r.out, "step "),
              (std::vector<std::string>{R"(step 1: [true,"","Install failed",true,"Install failed"])",
                                        "step 2: snapshot written"}))
        << r.out << r.err;
    // A first install that fails says so, in the page: no "Update failed" box.
    EXPECT_TRUE(linesStartingWith(r.err, "message box:").empty()) << r.err;
}

TEST_F(LauncherWindowTasks, DuplicateAndDeleteGoThroughTheirDialogs) {
    installLocally();
    fs::remove(snapshot("launcher_duplicated.png"));
    const std::string tiles =
        "Array.from(document.querySelectorAll('#server-list .server-tile')).map(t => [t.dataset.name, "
        "t.classList.contains('selected')])";
    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption') === 'Launch');
await xcall('duplicateInstallation');
await until(() => document.querySelectorAll('#server-list .server-tile').length === 2);
await until(() => text('#server-title') === 'Loopback Server (Copy)');
return [)JS" + tiles + R"JS(, text('#server-title')];
---
#snapshot )JS" + snapshot("launcher_duplicated.png").string() + "\n---\n" + kUntil + R"JS(
await xcall('deleteInstallation');
await until(() => document.querySelectorAll('#server-list .server-tile').length === 1);
return )JS" + tiles + ";\n";
    const test::ProcessResult r = run(steps, {"--test-duplicate-names", "|LOOP|mine", "--test-answer-yes"});
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    const std::vector<std::string> expectedSteps = {
        R"X(step 1: [[["loop",false],["mine",true]],"Loopback Server (Copy)"])X", "step 2: snapshot written",
        R"(step 3: [["loop",true]])"};
    EXPECT_EQ(linesStartingWith(r.out, "step "), expectedSteps) << r.out << r.err;
    const std::string question = "message box: Delete Installation | warning | Delete this custom installation?"
                                 "\\n\\nLoopback Server (Copy)\\n" +
                                 (folder / "clients" / "mine").string() +
                                 "\\n\\nThe game files and the customlist.json entry will be removed. This cannot be "
                                 "undone.";
    const std::vector<std::string> expectedBoxes = {
        "message box: Duplicate | info | Please enter a name for the duplicated client.",
        "message box: Duplicate | warning | That name is already in use. Choose a different name.", question};
    EXPECT_EQ(linesStartingWith(r.err, "message box:"), expectedBoxes) << r.err;
    EXPECT_EQ(linesStartingWith(r.err, "duplicate prompt:"),
              std::vector<std::string>{"duplicate prompt: loop-copy-1 | Loopback Server (Copy)"});
    EXPECT_FALSE(fs::exists(folder / "clients" / "mine"));
    EXPECT_EQ(test::readFile(folder / "customlist.json").find("mine"), std::string::npos);
    const auto log = test::logMessages(folder.path());
    EXPECT_NE(std::find(log.begin(), log.end(), "Duplicated loop as mine"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "Deleted custom installation: mine"), log.end());
}

}  // namespace
}  // namespace mendly
