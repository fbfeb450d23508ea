#include "tasks/patch_tasks.h"

#include <gtest/gtest.h>

#include <functional>

#include "bridge/recording_page_host_testing.h"
#include "catalog/patch_addresses.h"
#include "launcher_app_messages.h"
#include "log/log_file.h"
#include "model/state_test_fixture.h"
#include "patch/cancel_flag.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "tasks/game_launch.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using test::makeEntry;

class PatchTasksTest : public test::LauncherStateTest {
protected:
    void SetUp() override {
        LauncherStateTest::SetUp();
        setEntries({makeEntry("retail", "Kaltris Nexum 2.5"), makeEntry("bare", "", "")}, 1);
        ASSERT_TRUE(LogFile::open(program.path()));
    }
    void TearDown() override {
        LogFile::close();
        LauncherStateTest::TearDown();
    }
    fs::path folder(std::size_t index) { return state.installFolderOf(state.catalog.entries.at(index)); }
    // The log so far (every line is flushed as it is written).
    std::vector<std::string> log() { return test::logMessages(program.path()); }
    std::vector<unsigned> posted() {
        std::vector<unsigned> numbers;
        for (const auto& message : host.box->take()) numbers.push_back(message.message);
        return numbers;
    }
    // Runs the UI thread's side of every queued message until none is left.
    void deliverAll() {
        for (int round = 0; round < 50; ++round) {
            auto messages = host.box->take();
            if (messages.empty()) return;
            for (const auto& message : messages) handleLauncherMessage(&state, host, message);
        }
    }
    bool contains(const std::vector<std::string>& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    test::RecordingPageHost host;
};

TEST_F(PatchTasksTest, InstallStartsAnInstallRunWithItsFoldersStatusLogAndTaskbar) {
    installSelected(state, host);
    ASSERT_EQ(host.starts.size(), 1u);
    const PatchStart& start = host.starts[0];
    EXPECT_EQ(start.mode, PatchMode::Install);
    EXPECT_EQ(start.manifestUrl, manifestUrl(state.catalog.entries[0]));
    EXPECT_EQ(start.filesBaseUrl, filesBaseUrl(state.catalog.entries[0]));
    EXPECT_EQ(start.installFolder, folder(0));
    EXPECT_TRUE(fs::is_directory(folder(0)));
    EXPECT_TRUE(state.busy);
    EXPECT_FALSE(state.launchAfterTask);
    EXPECT_EQ(state.taskStatus, u"Installing...");
    EXPECT_EQ(state.playButtonLabel(), u"Installing...");
    EXPECT_FALSE(state.canPlay());
    EXPECT_EQ(host.taskbarRecord.calls, std::vector<std::string>{"busy"});
    EXPECT_EQ(posted(), std::vector<unsigned>{WM_REFRESH_PAGE});
    const auto lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "--- Install ---");
    EXPECT_EQ(lines.back(), "Server: retail (aurum)");
}

TEST_F(PatchTasksTest, InstallWithoutLaunchExecutableOnlyExplains) {
    state.selected = 1;
    installSelected(state, host);
    EXPECT_TRUE(host.starts.empty());
    EXPECT_FALSE(state.busy);
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0], (Notice{u"This server entry is missing \"launchExecutable\".", u"Install",
                                       NoticeIcon::Information}));
}

TEST_F(PatchTasksTest, PlayUpdatesAnInstalledEntryAndInstallsAnotherOne) {
    install(0);
    playSelected(state, host);
    ASSERT_EQ(host.starts.size(), 1u);
    EXPECT_EQ(host.starts[0].mode, PatchMode::Update);
    EXPECT_TRUE(state.launchAfterTask);
    EXPECT_EQ(state.taskStatus, u"Checking for updates...");
    EXPECT_EQ(state.playButtonLabel(), u"Patching...");
    EXPECT_EQ(log().back(), "Server: retail (aurum)");

    state.busy = false;
    fs::remove_all(folder(0));
    playSelected(state, host);
    ASSERT_EQ(host.starts.size(), 2u);
    EXPECT_EQ(host.starts[1].mode, PatchMode::Install);
    EXPECT_FALSE(state.launchAfterTask);
    EXPECT_EQ(state.playButtonLabel(), u"Installing...");
}

TEST_F(PatchTasksTest, UpdateRunsAnUpdateThatLaunchesNothingAndOnlyOnAnInstalledEntry) {
    updateSelected(state, host);
    EXPECT_TRUE(host.starts.empty());  // not installed: that is Install's work
    install(0);
    updateSelected(state, host);
    ASSERT_EQ(host.starts.size(), 1u);
    EXPECT_EQ(host.starts[0].mode, PatchMode::Update);
    EXPECT_FALSE(state.launchAfterTask);
    EXPECT_EQ(state.taskStatus, u"Checking for updates...");
    EXPECT_EQ(state.playButtonLabel(), u"Patching...");
    const auto lines = log();
    EXPECT_EQ(lines[lines.size() - 2], "--- Update ---");
    onPatchFinished(state, host, PatchOutcome::Ok, nullptr);
    EXPECT_TRUE(host.opener.calls.empty());
}

TEST_F(PatchTasksTest, NothingStartsWhileBusyOrWithoutASelection) {
    install(0);
    host.answerYes = true;
    state.busy = true;
    for (auto operation : {&installSelected, &playSelected, &reinstallSelected, &resetIniSelected,
                           &configureSelected, &openInstallFolder})
        operation(state, host);
    state.busy = false;
    state.selected = 7;
    for (auto operation : {&installSelected, &playSelected, &reinstallSelected, &resetIniSelected,
                           &configureSelected, &openInstallFolder})
        operation(state, host);
    EXPECT_TRUE(host.starts.empty());
    EXPECT_TRUE(host.questions.empty());
    EXPECT_TRUE(host.notices.empty());
    EXPECT_TRUE(host.opener.calls.empty());
    EXPECT_TRUE(fs::exists(folder(0) / "kaltrisclient.exe"));
}

TEST_F(PatchTasksTest, ReinstallAnsweredNoChangesNothing) {
    install(0);
    reinstallSelected(state, host);
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.questions[0], (Notice{u"This will delete the selected Kaltris installation and reinstall it. Proceed?",
                                         u"Reinstall", NoticeIcon::Warning}));
    EXPECT_TRUE(fs::exists(folder(0) / "kaltrisclient.exe"));
    EXPECT_TRUE(host.starts.empty());
}

TEST_F(PatchTasksTest, ReinstallDeletesTheWholeFolderThenInstalls) {
    install(0);
    test::writeFile(folder(0) / "ini" / "language.ini", "[INI]\r\nLANGUAGE=de\r\n");
    host.answerYes = true;
    reinstallSelected(state, host);
    ASSERT_EQ(host.starts.size(), 1u);
    EXPECT_EQ(host.starts[0].mode, PatchMode::Install);
    EXPECT_TRUE(fs::is_directory(folder(0)));  // created again for the run
    EXPECT_TRUE(fs::is_empty(folder(0)));
    EXPECT_EQ(state.taskStatus, u"Installing...");
}

TEST_F(PatchTasksTest, ResetIniDeletesOnlyTheIniFolderAndRunsResetIni) {
    install(0);
    test::writeFile(folder(0) / "ini" / "updater.ini", "x");
    host.answerYes = true;
    resetIniSelected(state, host);
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.questions[0].caption, u"Reset INI Files");
    EXPECT_EQ(host.questions[0].text,
              u"This will delete your local INI files and download fresh copies from the server. Proceed?");
    EXPECT_FALSE(fs::exists(folder(0) / "ini"));
    EXPECT_TRUE(fs::exists(folder(0) / "kaltrisclient.exe"));
    ASSERT_EQ(host.starts.size(), 1u);
    EXPECT_EQ(host.starts[0].mode, PatchMode::ResetIni);
    EXPECT_EQ(state.taskStatus, u"Resetting INI directory...");
    EXPECT_EQ(state.playButtonLabel(), u"Installing...");
    EXPECT_EQ(log()[log().size() - 2], "--- Reset INI ---");
}

TEST_F(PatchTasksTest, AFolderThatCannotBeDeletedIsReportedAndNothingStarts) {
    // An installation path that is the program folder itself must never be wiped.
    state.catalog.entries[0].installPath = program.path().string();
    test::writeFile(program / "precious.txt", "keep");
    host.answerYes = true;
    reinstallSelected(state, host);
    EXPECT_TRUE(host.starts.empty());
    EXPECT_EQ(test::readFile(program / "precious.txt"), "keep");
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0], (Notice{u"Could not delete client folder:\n" + program.path().u16string(), u"Reinstall",
                                       NoticeIcon::Error}));
    EXPECT_TRUE(contains(log(), "ERROR: Could not delete client folder: " + program.path().string()));
}

TEST_F(PatchTasksTest, CancelWhileBusyShowsCancellingAtOnce) {
    cancelTask(state, host);  // idle: nothing
    EXPECT_FALSE(isPatchCancelRequested());
    installSelected(state, host);
    (void)posted();
    cancelTask(state, host);
    EXPECT_TRUE(isPatchCancelRequested());
    EXPECT_EQ(state.taskStatus, u"Cancelling...");
    EXPECT_EQ(state.playButtonLabel(), u"Cancelling...");
    EXPECT_EQ(posted(), std::vector<unsigned>{WM_REFRESH_PAGE});
}

TEST_F(PatchTasksTest, AWorkerThatCannotStartIsReportedAndLeavesTheLauncherIdle) {
    host.patchStarts = test::PatchStarts::FailToStart;
    installSelected(state, host);
    EXPECT_FALSE(state.busy);
    EXPECT_TRUE(state.taskStatus.empty());
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0].caption, u"Update failed");
    EXPECT_EQ(host.notices[0].text.rfind(u"Could not start the update:\n", 0), 0u);
    EXPECT_EQ(host.taskbarRecord.calls, (std::vector<std::string>{"busy", "error", "off"}));
    EXPECT_EQ(state.playButtonLabel(), u"Install");
}

TEST_F(PatchTasksTest, ProgressDrivesTheTaskbar) {
    installSelected(state, host);
    onPatchProgress(state, host, 3, 12);
    onPatchProgress(state, host, 0, 0);
    EXPECT_EQ(host.taskbarRecord.calls, (std::vector<std::string>{"busy", "value 3/12", "busy"}));
    EXPECT_EQ(state.taskStatus, u"Installing...");  // only a Play run's start text gives way to "Working..."
}

TEST_F(PatchTasksTest, ASuccessfulPlayRunLaunchesTheGameInItsFolder) {
    install(0);
    playSelected(state, host);
    onPatchFinished(state, host, PatchOutcome::Ok, nullptr);
    ASSERT_EQ(host.opener.calls.size(), 1u);
    EXPECT_EQ(host.opener.calls[0],
              "spawn " + (folder(0) / "kaltrisclient.exe").string() + " in " + folder(0).string());
    EXPECT_FALSE(state.busy);
    EXPECT_FALSE(state.launchAfterTask);
    EXPECT_TRUE(state.taskStatus.empty());
    EXPECT_TRUE(host.notices.empty());
    EXPECT_EQ(host.taskbarRecord.calls.back(), "off");
    EXPECT_EQ(posted(), (std::vector<unsigned>{WM_REFRESH_PAGE, WM_REFRESH_PAGE, WM_RELOAD_SERVER_LIST,
                                                WM_REFRESH_PAGE}));
}

TEST_F(PatchTasksTest, AnInstallRunOrAFailedRunLaunchesNothing) {
    installSelected(state, host);
    install(0);
    onPatchFinished(state, host, PatchOutcome::Ok, nullptr);
    install(0);
    playSelected(state, host);
    const std::u16string error = u"Could not connect to the server. (error 7)";
    onPatchFinished(state, host, PatchOutcome::Failed, &error);
    EXPECT_TRUE(host.opener.calls.empty());
    EXPECT_TRUE(host.notices.empty());
    ASSERT_NE(state.selectedProblem(), nullptr);
    EXPECT_EQ(*state.selectedProblem(), (EntryProblem{ProblemKind::TaskFailed, u"Update failed", error}));
    EXPECT_EQ(host.taskbarRecord.calls,
              (std::vector<std::string>{"busy", "off", "busy", "error", "off"}));
    EXPECT_TRUE(state.taskStatus.empty());
}

TEST_F(PatchTasksTest, ACancelledRunKeepsCancelledAndLogsIt) {
    install(0);
    playSelected(state, host);
    cancelTask(state, host);
    const std::u16string cancelled = u"Cancelled";
    onPatchFinished(state, host, PatchOutcome::Cancelled, &cancelled);
    EXPECT_EQ(state.taskStatus, u"Cancelled");
    EXPECT_FALSE(state.busy);
    EXPECT_TRUE(host.notices.empty());
    EXPECT_TRUE(host.opener.calls.empty());
    EXPECT_EQ(log().back(), "Patch cancelled by user");
    EXPECT_EQ(state.playButtonLabel(), u"Launch");
}

TEST_F(PatchTasksTest, AGameThatCannotBeStartedIsReported) {
    install(0);
    host.opener.accept = false;
    state.busy = true;
    EXPECT_FALSE(launchGame(state, host));
    const auto exe = (folder(0) / "kaltrisclient.exe").u16string();
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0], (Notice{u"Could not start:\n" + exe, u"Play", NoticeIcon::Warning}));
    EXPECT_EQ(state.taskStatus, u"Launch failed");
    EXPECT_EQ(log().back(), "ERROR: Launch failed: " + toUtf8(exe));
}

TEST_F(PatchTasksTest, WithoutWinePlayAndConfigureSayWhatToInstallAndStartNothing) {
    install(0);
    host.opener.wineMissing = true;
    const std::string exe = (folder(0) / "kaltrisclient.exe").string();
    struct Case {
        std::function<void()> act;
        std::u16string caption;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {[&] { (void)launchGame(state, host); }, u"Play", "ERROR: Launch failed: " + exe + " \u2014 wine is not installed"},
        {[&] { configureSelected(state, host); }, u"Configure",
         "ERROR: Sysconfig launch failed: " + exe + " \u2014 wine is not installed"},
    };
    for (const auto& c : cases) {
        host.notices.clear();
        c.act();
        ASSERT_EQ(host.notices.size(), 1u);
        EXPECT_EQ(host.notices[0], (Notice{u"Wine is needed to run the game. Install it with your distribution's "
                                           u"package manager (for example: sudo apt install wine).",
                                           c.caption, NoticeIcon::Warning}));
        EXPECT_EQ(log().back(), c.logLine);
    }
    EXPECT_TRUE(host.opener.calls.empty());
    EXPECT_EQ(state.taskStatus, u"Launch failed");
}

TEST_F(PatchTasksTest, AMissingGameIsReportedWithWhatWasExpected) {
    fs::create_directories(folder(0));
    EXPECT_FALSE(launchGame(state, host));
    const auto expected = (folder(0) / "kaltrisclient.exe").u16string();
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0], (Notice{u"Game executable not found:\n" + expected, u"Play", NoticeIcon::Warning}));
    EXPECT_EQ(log().back(), "ERROR: Game executable not found: " + toUtf8(expected));
}

TEST_F(PatchTasksTest, ConfigureStartsTheGameInSysconfigModeOrSaysNotConfigured) {
    install(0);
    configureSelected(state, host);
    EXPECT_EQ(host.opener.calls, std::vector<std::string>{"spawn " + (folder(0) / "kaltrisclient.exe").string() +
                                                          " -sysconfig in " + folder(0).string()});
    EXPECT_FALSE(state.busy);
    EXPECT_TRUE(state.taskStatus.empty());

    state.selected = 1;  // no launch executable and nothing installed
    fs::create_directories(folder(1));
    configureSelected(state, host);
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0],
              (Notice{u"Game executable not found:\n(not configured)", u"Configure", NoticeIcon::Warning}));
    EXPECT_EQ(log().back(), "ERROR: Cannot configure, executable not found: (not configured)");

    state.selected = 0;
    host.opener.accept = false;
    configureSelected(state, host);
    ASSERT_EQ(host.notices.size(), 2u);
    EXPECT_EQ(host.notices[1].text, u"Could not start configuration:\n" + (folder(0) / "kaltrisclient.exe").u16string());
}

TEST_F(PatchTasksTest, OpenInstallFolderCreatesItAndHandsItToTheShell) {
    openInstallFolder(state, host);
    EXPECT_TRUE(fs::is_directory(folder(0)));
    EXPECT_EQ(host.opener.calls, std::vector<std::string>{"path " + folder(0).string()});
    host.opener.accept = false;
    openInstallFolder(state, host);
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0],
              (Notice{u"Could not open install folder:\n" + folder(0).u16string(), u"Open Folder", NoticeIcon::Warning}));
    EXPECT_EQ(log().back(), "ERROR: Could not open folder: " + folder(0).string());
}

// The real worker thread against a loopback patch host.
class PatchTaskRunTest : public PatchTasksTest {
protected:
    void SetUp() override {
        PatchTasksTest::SetUp();
        host.patchStarts = test::PatchStarts::Run;
        hostFolder.addFile("kaltrisclient.exe", "MZ client");
        hostFolder.addFile("data/readme.txt", "hello");
        hostFolder.publish();
        server.serveFolder(served.path());
        state.catalog.entries[0].patchBaseUrl = server.baseUrl();
    }
    test::TempDir served{"served"};
    test::PatchHostFolder hostFolder{served.path(), "aurum"};
    test::LoopbackServer server;
};

TEST_F(PatchTaskRunTest, InstallRunsToTheEndAndLeavesTheLauncherIdle) {
    installSelected(state, host);
    ASSERT_TRUE(host.waitForMessage(WM_PATCH_FINISHED));
    deliverAll();
    EXPECT_FALSE(state.busy);
    EXPECT_TRUE(state.taskStatus.empty());
    EXPECT_TRUE(host.notices.empty());
    EXPECT_EQ(test::readFile(folder(0) / "data" / "readme.txt"), "hello");
    EXPECT_EQ(state.playButtonLabel(), u"Launch");
    EXPECT_EQ(host.taskbarRecord.calls.back(), "off");
}

TEST_F(PatchTaskRunTest, AFailingHostLeavesTheInstallProblemOnTheEntryAndNoBox) {
    hostFolder.setPublished("data/readme.txt", false);
    hostFolder.publish();
    installSelected(state, host);
    ASSERT_TRUE(host.waitForMessage(WM_PATCH_FINISHED));
    deliverAll();
    EXPECT_FALSE(state.busy);
    EXPECT_TRUE(host.notices.empty());
    const EntryProblem* problem = state.selectedProblem();
    ASSERT_NE(problem, nullptr);
    EXPECT_EQ(problem->caption, u"Install failed");
    EXPECT_NE(problem->detail.find(u"404"), std::u16string::npos) << toUtf8(problem->detail);
    // The next attempt starts clean.
    host.patchStarts = test::PatchStarts::Record;
    installSelected(state, host);
    EXPECT_EQ(state.selectedProblem(), nullptr);
}

TEST_F(PatchTaskRunTest, CancelDuringASlowDownloadEndsCancelled) {
    server.streamBody(hostFolder.fileUrlPath("data/readme.txt"), 64, std::chrono::milliseconds(50), 1 << 20);
    installSelected(state, host);
    ASSERT_TRUE(server.waitForRequests(hostFolder.fileUrlPath("data/readme.txt"), 1));
    deliverAll();
    cancelTask(state, host);
    ASSERT_TRUE(host.waitForMessage(WM_PATCH_FINISHED));
    deliverAll();
    EXPECT_EQ(state.taskStatus, u"Cancelled");
    EXPECT_FALSE(state.busy);
    EXPECT_TRUE(host.notices.empty());
}

}  // namespace
}  // namespace mendly
