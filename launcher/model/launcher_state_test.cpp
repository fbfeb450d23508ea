#include "model/launcher_state.h"

#include <gtest/gtest.h>

#include "catalog/patch_addresses.h"
#include "log/log_file.h"
#include "model/fake_shell_opener.h"
#include "model/server_version.h"
#include "patch/cancel_flag.h"
#include "state_test_fixture.h"

namespace mendly {
namespace {

using test::makeEntry;

class StateRulesTest : public test::LauncherStateTest {
protected:
    void SetUp() override {
        LauncherStateTest::SetUp();
        setEntries({makeEntry("retail", "Kaltris Nexum 2.5"), makeEntry("pts"), makeEntry("bare", "", "")}, 2);
    }
    EngineWindow* someWindow() { return reinterpret_cast<EngineWindow*>(&state); }
};

TEST_F(StateRulesTest, SelectionIsValidOnlyInsideTheCatalog) {
    state.selected = 2;
    EXPECT_TRUE(state.selectionValid());
    state.selected = 3;
    EXPECT_FALSE(state.selectionValid());
    EXPECT_EQ(state.selectedEntry(), nullptr);
    EXPECT_EQ(state.selectedServerHeader(), u"\u2014");
    state.selected = -1;
    EXPECT_FALSE(state.selectionValid());
}

TEST_F(StateRulesTest, IdleLabelIsLaunchOnlyForAnInstalledSelection) {
    EXPECT_EQ(state.playButtonLabel(), u"Install");
    install(0);
    EXPECT_EQ(state.playButtonLabel(), u"Launch");
    state.selected = 7;
    EXPECT_EQ(state.playButtonLabel(), u"Install");
}

TEST_F(StateRulesTest, AnInstalledSelectionMarkedOutOfDateReadsUpdateAndPatchesWhileItRuns) {
    install(0);
    state.entryStatuses = {kStatusOutOfDate, kStatusUndetermined, kStatusUndetermined};
    EXPECT_EQ(state.playButtonLabel(), u"Update");
    state.entryStatuses[0] = kStatusUpToDate;
    EXPECT_EQ(state.playButtonLabel(), u"Launch");
    state.busy = true;
    state.taskMode = PatchMode::Update;  // an Update run launches nothing, but it patches
    EXPECT_EQ(state.playButtonLabel(), u"Patching...");
    state.selected = 1;  // not installed, even when marked
    state.busy = false;
    state.entryStatuses[1] = kStatusOutOfDate;
    EXPECT_EQ(state.playButtonLabel(), u"Install");
}

TEST_F(StateRulesTest, AnUnreachableHostHoldsBackInstallButNotTheGame) {
    ASSERT_TRUE(state.noteCheckOutcome(0, u"Could not connect to the server. (error 7)"));
    EXPECT_FALSE(state.canPlay());
    install(0);
    EXPECT_TRUE(state.canPlay());
    // A failed task does not hold back a new attempt.
    state.entryProblems[1] = {ProblemKind::TaskFailed, u"Install failed", u"Disk full"};
    state.selected = 1;
    EXPECT_TRUE(state.canPlay());
    state.clearTaskProblem(1);
    EXPECT_EQ(state.selectedProblem(), nullptr);
    EXPECT_FALSE(state.noteCheckOutcome(7, u"x"));  // no such entry
}

TEST_F(StateRulesTest, BusyLabelFollowsTaskKindAndCancelFlag) {
    install(0);
    state.busy = true;
    EXPECT_EQ(state.playButtonLabel(), u"Installing...");  // Install, Reinstall, Reset INI
    state.launchAfterTask = true;
    EXPECT_EQ(state.playButtonLabel(), u"Patching...");
    requestPatchCancel();
    EXPECT_EQ(state.playButtonLabel(), u"Cancelling...");
    state.busy = false;  // a cancel flag left over from an ended task does not count when idle
    EXPECT_EQ(state.playButtonLabel(), u"Launch");
}

TEST_F(StateRulesTest, CanPlayNeedsIdleValidSelectionAndAnExecutableOrAnInstallation) {
    EXPECT_TRUE(state.canPlay());  // names an executable, not installed yet
    state.busy = true;
    EXPECT_FALSE(state.canPlay());
    state.busy = false;
    state.selected = 2;  // no launchExecutable
    EXPECT_FALSE(state.canPlay());
    install(2, "Kaltris.exe");
    EXPECT_TRUE(state.canPlay());
    state.selected = -1;
    EXPECT_FALSE(state.canPlay());
}

TEST_F(StateRulesTest, SelectingWhileBusyOrOutOfRangeChangesNothing) {
    EXPECT_TRUE(state.select(2));
    EXPECT_EQ(state.selected, 2);
    EXPECT_FALSE(state.select(3));
    EXPECT_FALSE(state.select(-1));
    state.busy = true;
    EXPECT_FALSE(state.select(0));
    EXPECT_EQ(state.selected, 2);
}

TEST_F(StateRulesTest, CatalogReloadMovesASelectionPastTheEndToTheFirstEntry) {
    state.selected = 2;
    state.entryStatuses = {1, 2, 1};
    ServerCatalog smaller;
    smaller.entries = {makeEntry("retail"), makeEntry("pts")};
    smaller.builtInCount = 2;
    state.applyCatalog(smaller);
    EXPECT_EQ(state.selected, 0);
    EXPECT_EQ(state.builtInCount, 2u);
    // Statuses stay attached to positions until the next check reports.
    EXPECT_EQ(state.entryStatuses, (std::vector<std::int32_t>{1, 2}));
}

TEST_F(StateRulesTest, CatalogReloadKeepsAValidSelectionAndExtendsStatusesWithZeros) {
    state.selected = 1;
    state.entryStatuses = {1, 2, 1};
    ServerCatalog larger;
    larger.entries = {makeEntry("a"), makeEntry("b"), makeEntry("c"), makeEntry("d"), makeEntry("e")};
    larger.builtInCount = 1;
    state.applyCatalog(larger);
    EXPECT_EQ(state.selected, 1);
    EXPECT_EQ(state.builtInCount, 1u);
    EXPECT_EQ(state.entryStatuses, (std::vector<std::int32_t>{1, 2, 1, 0, 0}));
}

TEST_F(StateRulesTest, EmptyCatalogLeavesNoSelectionAndEntriesBringTheFirstBack) {
    state.applyCatalog(ServerCatalog{});
    EXPECT_EQ(state.selected, -1);
    EXPECT_TRUE(state.entryStatuses.empty());
    ServerCatalog one;
    one.entries = {makeEntry("retail")};
    one.builtInCount = 1;
    state.applyCatalog(one);
    EXPECT_EQ(state.selected, 0);
}

TEST_F(StateRulesTest, VersionFetchNeedsAWindowAndAValidSelection) {
    EXPECT_EQ(state.beginVersionFetch(), std::nullopt);
    EXPECT_EQ(state.selectedVersion, u"\u2014");

    state.window = someWindow();
    state.selected = 1;
    const auto job = state.beginVersionFetch();
    ASSERT_TRUE(job);
    EXPECT_EQ(job->index, 1);
    EXPECT_EQ(job->versionUrl, u"http://127.0.0.1:1/aurum/_version._");
    EXPECT_EQ(state.selectedVersion, u"Loading\u2026");
    // The same fetch sizes the next run: an install here, nothing installed.
    EXPECT_EQ(job->manifestUrl, u"http://127.0.0.1:1/aurum.manifest");
    EXPECT_EQ(job->sizeMode, PatchMode::Install);
    state.sizeText = u"1.0 MB";  // the previous selection's
    install(1);
    EXPECT_EQ(state.beginVersionFetch()->sizeMode, PatchMode::Update);
    EXPECT_EQ(state.sizeText, u"");

    state.selected = 9;
    EXPECT_EQ(state.beginVersionFetch(), std::nullopt);
    EXPECT_EQ(state.selectedVersion, u"\u2014");
}

TEST_F(StateRulesTest, VersionResultIsTakenOnlyForTheSelectedIndex) {
    state.selected = 1;
    EXPECT_FALSE(state.onSelectedVersion(0, u"2.5.0"));
    EXPECT_EQ(state.selectedVersion, u"");
    EXPECT_TRUE(state.onSelectedVersion(1, u"2.5.1"));
    EXPECT_EQ(state.selectedVersion, u"2.5.1");
    EXPECT_EQ(state.selectedVersionShown, VersionShown::Known);
    EXPECT_TRUE(state.onSelectedVersion(1, u""));
    EXPECT_EQ(state.selectedVersion, u"Unavailable");
    EXPECT_EQ(state.selectedVersionShown, VersionShown::Unavailable);
    EXPECT_TRUE(state.onSelectedVersion(1, u"\u2014", VersionShown::None));
    EXPECT_EQ(state.selectedVersionShown, VersionShown::None);
}

TEST_F(StateRulesTest, TheInstalledVersionIsReadFromTheSelectedInstallation) {
    EXPECT_EQ(state.installedVersionText(), u"");  // not installed
    install(0);
    EXPECT_EQ(state.installedVersionText(), u"");  // no version file
    test::writeFile(state.installFolderOf(state.catalog.entries[0]) / "_version._", "\xEF\xBB\xBFKaltrisNexum-2.5.1\n");
    EXPECT_EQ(state.installedVersionText(), u"2.5.1");
}

TEST_F(StateRulesTest, StatusCheckNeedsAWindowAndBuildsOneJobPerEntry) {
    EXPECT_EQ(state.beginStatusCheck(), std::nullopt);
    EXPECT_EQ(state.checkGeneration, 0);

    state.window = someWindow();
    install(1);
    const auto check = state.beginStatusCheck();
    ASSERT_TRUE(check);
    EXPECT_EQ(check->generation, 1);
    EXPECT_EQ(state.checkGeneration, 1);
    ASSERT_EQ(check->jobs.size(), 3u);
    EXPECT_FALSE(check->jobs[0].installed);
    EXPECT_TRUE(check->jobs[1].installed);
    EXPECT_EQ(check->jobs[1].index, 1);
    EXPECT_EQ(check->jobs[1].installFolder, program / "clients" / "pts");
    EXPECT_EQ(check->jobs[1].versionUrl, versionUrl(state.catalog.entries[1]));
    EXPECT_EQ(state.beginStatusCheck()->generation, 2);

    state.applyCatalog(ServerCatalog{});
    EXPECT_EQ(state.beginStatusCheck(), std::nullopt);
    EXPECT_EQ(state.checkGeneration, 2);
}

TEST_F(StateRulesTest, TwoQuickChecksLeaveOnlyTheNewerResultsInEffect) {
    state.window = someWindow();
    const auto older = state.beginStatusCheck();
    const auto newer = state.beginStatusCheck();
    EXPECT_TRUE(state.onServerStatus(newer->generation, 0, kStatusUpToDate));
    EXPECT_FALSE(state.onServerStatus(older->generation, 0, kStatusOutOfDate));
    EXPECT_FALSE(state.onServerStatus(older->generation, 1, kStatusOutOfDate));
    EXPECT_FALSE(state.onServerStatus(newer->generation, 3, kStatusUpToDate));  // past the list
    EXPECT_FALSE(state.onServerStatus(newer->generation, -1, kStatusUpToDate));
    EXPECT_EQ(state.entryStatuses, (std::vector<std::int32_t>{1, 0, 0}));
}

TEST_F(StateRulesTest, LanguageOfTheSelectedInstallation) {
    EXPECT_EQ(state.readLanguage(), "en");
    ASSERT_EQ(state.writeLanguage("fr"), std::nullopt);
    EXPECT_EQ(test::readFile(program / "clients" / "retail" / "ini" / "language.ini"), "[INI]\r\nLANGUAGE=fr\r\n");
    EXPECT_EQ(state.readLanguage(), "fr");
    state.selected = 1;
    EXPECT_EQ(state.readLanguage(), "en");
    state.selected = -1;
    EXPECT_EQ(state.readLanguage(), "en");
}

TEST_F(StateRulesTest, LanguageChangeWhileBusyOrUnsupportedWritesNothing) {
    state.busy = true;
    EXPECT_EQ(state.writeLanguage("de"), std::nullopt);
    state.busy = false;
    EXPECT_EQ(state.writeLanguage("DE"), std::nullopt);
    EXPECT_EQ(state.writeLanguage(""), std::nullopt);
    state.selected = 5;
    EXPECT_EQ(state.writeLanguage("de"), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(program / "clients"));
}

TEST_F(StateRulesTest, LanguageWriteIsLoggedWithTheEntryName) {
    ASSERT_TRUE(LogFile::open(program.path()));
    ASSERT_EQ(state.writeLanguage("es"), std::nullopt);
    LogFile::close();
    EXPECT_NE(test::readFile(program / "launcher.log").find(" Set language es for retail\n"), std::string::npos);
}

TEST_F(StateRulesTest, ShortcutIndexOutsideTheListStartsNothing) {
    test::FakeShellOpener opener;
    state.shortcuts = {{"Forum", ShortcutKind::Webpage, "https://forum.example.invalid/"}};
    EXPECT_FALSE(state.launchShortcut(1, opener).result);
    EXPECT_FALSE(state.launchShortcut(-1, opener).result);
    EXPECT_TRUE(opener.calls.empty());
    EXPECT_TRUE(state.launchShortcut(0, opener).result);
    EXPECT_EQ(opener.calls, (std::vector<std::string>{"uri https://forum.example.invalid/"}));
}

}  // namespace
}  // namespace mendly
