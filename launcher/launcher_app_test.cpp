// The launcher program as a process: copied into a temporary program folder
// and started on a private Xvfb display, with its message boxes answered by
// the test-only option --test-answer-dialogs.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "build_info.h"
#include "support/loopback_server.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "display_suite.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> logMessages(const std::string& log) {
    std::vector<std::string> messages;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        // "YYYY-MM-DD HH:MM:SS.mmm " prefix
        messages.push_back(line.size() > 24 ? line.substr(24) : line);
    }
    return messages;
}

class LauncherProgram : public test::DisplaySuite {
protected:
    void SetUp() override {
        program = folder / "launcher";
        fs::copy_file(LAUNCHER_EMPTY_CATALOG_EXE, program);
    }

    test::ProcessResult run(std::vector<std::string> args, std::string displayName = "") {
        test::ProcessOptions options;
        options.args = std::move(args);
        options.env = {{"DISPLAY", displayName.empty() ? display->name() : displayName}, {"GDK_BACKEND", "x11"}};
        options.workingDirectory = folder.path();
        options.timeLimit = std::chrono::seconds(60);
        return test::runProcess(program, options);
    }

    test::TempDir folder{"launcher_app"};
    fs::path program;
};


TEST_F(LauncherProgram, EmptyCatalogShowsOnlyTheErrorAndExitsWithZero) {
    const test::ProcessResult r = run({"--skip-self-update", "--test-answer-dialogs"});
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "message box: Launcher | error | No servers configured in embedded catalog.\n");

    const std::vector<std::string> expected = {
        "launcher.log opened",
        "Kaltris Nexum Launcher starting",
        std::string("Launcher version ") + buildIdentifierUtf8(),
        "WARNING: updates are not signed in this build",
        "Launcher Update Check: OK",
        "ERROR: No servers configured",
        "launcher exiting",
    };
    EXPECT_EQ(logMessages(test::readFile(folder / "launcher.log")), expected);
}

TEST_F(LauncherProgram, ALogThatCannotBeCreatedIsReportedAndStartUpGoesOn) {
    fs::create_directory(folder / "launcher.log");  // a folder where the log file belongs
    const test::ProcessResult r = run({"--skip-self-update", "--test-answer-dialogs"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "message box: Launcher | warning | Could not create launcher.log in\\n" + folder.path().string() +
                         "\n"
                         "message box: Launcher | error | No servers configured in embedded catalog.\n");
    EXPECT_TRUE(fs::is_directory(folder / "launcher.log"));
}

TEST_F(LauncherProgram, WithoutADisplayItEndsWithMinusOneAndLogsNothing) {
    const test::ProcessResult r = run({"--skip-self-update", "--test-answer-dialogs"}, ":987654");
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_FALSE(fs::exists(folder / "launcher.log"));
}

// The step lines ("step N: ...") of the launcher's test output, in order.
std::vector<std::string> stepLines(const std::string& out) {
    std::vector<std::string> steps;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("step ", 0) == 0) steps.push_back(line);
    return steps;
}

// The whole launcher on a loopback patch host: three custom entries, two of
// them installed (one current, one behind), driven through its page.
TEST_F(LauncherProgram, TilesShowTheirMarksAndSelectingShowsLoadingThenTheVersion) {
    test::LoopbackServer host;
    host.respond("/aurum/_version._", 200, "KaltrisNexum-2.5.1\r\n");
    host.route("/beta/_version._", [](const test::LoopbackRequest&, test::LoopbackReply& reply) {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));  // long enough to see "Loading…"
        reply.body = "KaltrisNexum-2.6.0\n";
    });
    test::TempDir current("launcher_current"), behind("launcher_behind");
    test::writeFile(current / "kaltrisclient.exe", "MZ");
    test::writeFile(current / "_version._", "KaltrisNexum-2.5.1\n");
    test::writeFile(behind / "kaltrisclient.exe", "MZ");
    test::writeFile(behind / "_version._", "KaltrisNexum-2.4.0\n");
    const std::string base = host.baseUrl() + "/";
    const auto entry = [&](const std::string& name, const std::string& desc, const std::string& server,
                           const std::string& path) {
        std::string json = R"({"name":")" + name + R"(","desc":")" + desc + R"(","server":")" + server +
                           R"(","patchBaseUrl":")" + base + R"(","launchExecutable":"kaltrisclient.exe")";
        if (!path.empty()) json += R"(,"installPath":")" + path + "\"";
        return json + "}";
    };
    test::writeFile(folder / "customlist.json",
                    R"({"servers":[)" + entry("mine", "My Server", "aurum", current.path().string()) + "," +
                        entry("old", "Old Copy", "aurum", behind.path().string()) + "," +
                        entry("fresh", "Fresh & <New>", "beta", "") + "]}");
    const fs::path script = folder / "steps.js";
    // The page selects its first tile on load, so the version shown before the
    // click is the first entry's.
    test::writeFile(script, R"JS(
const until = async (f) => { for (let i = 0; i < 150; i++) { if (f()) return true; await new Promise(r => setTimeout(r, 100)); } return false; };
await until(() => document.querySelectorAll('#server-list .tile-status').length === 2);
return Array.from(document.querySelectorAll('#server-list .server-tile')).map(t =>
  [t.dataset.name, t.dataset.installed, t.querySelector('.tile-status') ? t.querySelector('.tile-status').className : '',
   t.querySelector('.server-name').textContent]);
---
const until = async (f) => { for (let i = 0; i < 150; i++) { if (f()) return true; await new Promise(r => setTimeout(r, 100)); } return false; };
const version = document.querySelector('#server-version');
const seen = [version.textContent];
new MutationObserver(() => { if (seen[seen.length - 1] !== version.textContent) seen.push(version.textContent); })
  .observe(version, {childList: true, characterData: true, subtree: true});
document.querySelectorAll('#server-list .server-tile')[2].click();
await until(() => version.textContent === '2.6.0');
return [seen, document.querySelector('#server-title').textContent, document.querySelector('#btn-play-caption').textContent,
        document.querySelector('.server-tile.selected').dataset.index];
)JS");
    const fs::path snapshot = fs::path(SNAPSHOT_DIR) / "launcher_window.png";
    fs::remove(snapshot);

    const test::ProcessResult r = run({"--skip-self-update", "--test-answer-dialogs", "--test-script", script.string(),
                                       "--test-snapshot", snapshot.string()});
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> expected = {
        R"(step 1: [["mine","1","tile-status current","My Server"],["old","1","tile-status outdated","Old Copy"],)"
        R"(["fresh","0","","Fresh & <New>"]])",
        "step 2: [[\"2.5.1\",\"Loading\u2026\",\"2.6.0\"],\"Fresh & <New>\",\"Install\",\"2\"]",
    };
    EXPECT_EQ(stepLines(r.out), expected) << r.out;
    EXPECT_NE(r.out.find("snapshot: written"), std::string::npos);
    EXPECT_TRUE(fs::exists(snapshot));
    EXPECT_EQ(host.requestCount("/beta/_version._"), 1u);
    EXPECT_GE(host.requestCount("/aurum/_version._"), 2u);  // the status check of both installations
}

}  // namespace
}  // namespace mendly
