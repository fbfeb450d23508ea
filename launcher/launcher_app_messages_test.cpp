#include "launcher_app_messages.h"

#include <gtest/gtest.h>

#include "bridge/recording_page_host_testing.h"
#include "model/state_test_fixture.h"
#include "test_hooks.h"

namespace mendly {
namespace {

class LauncherMessagesTest : public test::LauncherStateTest {
protected:
    void SetUp() override {
        LauncherStateTest::SetUp();
        setEntries({test::makeEntry("retail", "Kaltris Nexum 2.5")}, 1);
    }
    void deliver(unsigned message, std::intptr_t wParam, std::intptr_t lParam) {
        handleLauncherMessage(&state, host, {message, wParam, lParam});
    }
    static std::intptr_t text(std::u16string value) {
        return reinterpret_cast<std::intptr_t>(new std::u16string(std::move(value)));
    }
    std::vector<unsigned> posted() {
        std::vector<unsigned> numbers;
        for (const auto& message : host.box->take()) numbers.push_back(message.message);
        return numbers;
    }
    void beBusy() {
        state.busy = true;
        state.taskStatus = u"Checking for updates...";
    }

    test::RecordingPageHost host;
};

TEST_F(LauncherMessagesTest, AStageTextResetsTheProgressSoTheBarShowsAtOnce) {
    beBusy();
    state.progressDone = 7;
    deliver(WM_PATCH_STATUS, 0, text(u"Verifying local files..."));
    EXPECT_EQ(state.taskStatus, u"Verifying local files...");
    EXPECT_EQ(state.progressDone, 0);
    EXPECT_EQ(state.progressTotal, 1);
    EXPECT_EQ(posted(), std::vector<unsigned>{WM_REFRESH_PAGE});
}

TEST_F(LauncherMessagesTest, OtherStatusLinesKeepTheProgress) {
    beBusy();
    state.progressDone = 3;
    state.progressTotal = 9;
    deliver(WM_PATCH_STATUS, 0, text(u"Downloading files... 1.2 MB/s"));
    EXPECT_EQ(state.taskStatus, u"Downloading files... 1.2 MB/s");
    EXPECT_EQ(state.progressDone, 3);
    EXPECT_EQ(state.progressTotal, 9);
}

TEST_F(LauncherMessagesTest, StatusWhileIdleIsIgnoredAndANullTextToo) {
    deliver(WM_PATCH_STATUS, 0, text(u"Applying patches..."));
    beBusy();
    deliver(WM_PATCH_STATUS, 0, 0);
    EXPECT_EQ(state.taskStatus, u"Checking for updates...");
    EXPECT_TRUE(posted().empty());
}

TEST_F(LauncherMessagesTest, FirstProgressReplacesTheStartTextWithWorking) {
    beBusy();
    deliver(WM_PATCH_PROGRESS, 2, 10);
    EXPECT_EQ(state.taskStatus, u"Working...");
    EXPECT_EQ(state.progressDone, 2);
    EXPECT_EQ(state.progressTotal, 10);
    EXPECT_EQ(posted(), std::vector<unsigned>{WM_REFRESH_PAGE});
}

TEST_F(LauncherMessagesTest, ProgressValuesAreSignedThirtyTwoBit) {
    deliver(WM_PATCH_PROGRESS, static_cast<std::intptr_t>(std::int32_t{-1}), 0);
    EXPECT_EQ(state.progressDone, -1);
    EXPECT_EQ(state.taskStatus, u"");  // idle: no "Working..."
}

TEST_F(LauncherMessagesTest, ACancelledRunKeepsItsStatusAndShowsNoBox) {
    beBusy();
    state.launchAfterTask = true;
    state.progressTotal = 5;
    deliver(WM_PATCH_FINISHED, 2, text(u"Cancelled"));  // wParam 2: cancelled
    EXPECT_FALSE(state.busy);
    EXPECT_FALSE(state.launchAfterTask);
    EXPECT_EQ(state.taskStatus, u"Cancelled");
    EXPECT_EQ(state.progressTotal, 0);
    EXPECT_TRUE(host.notices.empty());
    EXPECT_EQ(posted(), (std::vector<unsigned>{WM_RELOAD_SERVER_LIST, WM_REFRESH_PAGE}));
}

TEST_F(LauncherMessagesTest, AFailedRunLeavesItsErrorOnTheEntryForThePageInsteadOfABox) {
    beBusy();
    state.taskMode = PatchMode::Install;
    deliver(WM_PATCH_FINISHED, 0, text(u"Could not connect to the server. (error 7)"));
    EXPECT_FALSE(state.busy);
    EXPECT_EQ(state.taskStatus, u"");
    EXPECT_TRUE(host.notices.empty());
    ASSERT_NE(state.selectedProblem(), nullptr);
    EXPECT_EQ(*state.selectedProblem(), (EntryProblem{ProblemKind::TaskFailed, u"Install failed",
                                                      u"Could not connect to the server. (error 7)"}));
    EXPECT_EQ(host.taskbarRecord.calls, (std::vector<std::string>{"error", "off"}));
}

TEST_F(LauncherMessagesTest, VersionAndStatusResultsMarkAHostThatDidNotAnswer) {
    setEntries({test::makeEntry("retail"), test::makeEntry("pts")}, 2);
    install(1);
    // A version fetched for an entry no longer selected still tells about its host.
    deliver(WM_SELECTED_VERSION, 0, reinterpret_cast<std::intptr_t>(new SelectedVersionRecord{
                                        1, u"Unavailable", VersionShown::Unavailable, u"Timed out (error 28)"}));
    ASSERT_NE(state.problemOf(1), nullptr);
    EXPECT_EQ(state.problemOf(1)->detail, u"Timed out (error 28)");
    EXPECT_TRUE(state.selectedVersion.empty());
    EXPECT_EQ(posted(), std::vector<unsigned>{WM_RELOAD_SERVER_LIST});
    // A status result for an entry that was not asked says nothing about it.
    deliver(WM_SERVER_STATUS, 0, reinterpret_cast<std::intptr_t>(new ServerStatusRecord{0, 1, 0, false, u""}));
    EXPECT_NE(state.problemOf(1), nullptr);
    deliver(WM_SERVER_STATUS, 0, reinterpret_cast<std::intptr_t>(new ServerStatusRecord{0, 1, 1, true, u""}));
    EXPECT_EQ(state.problemOf(1), nullptr);
    EXPECT_EQ(state.entryStatuses[1], 1);
    deliver(WM_SERVER_STATUS, 0,
            reinterpret_cast<std::intptr_t>(new ServerStatusRecord{0, 0, 0, true, u"Could not connect (error 7)"}));
    EXPECT_EQ(state.selectedProblem()->caption, u"Server unreachable");
}

TEST_F(LauncherMessagesTest, ReloadCallsThePageThenRefreshes) {
    deliver(WM_RELOAD_SERVER_LIST, 0, 0);
    ASSERT_EQ(host.pageCalls.size(), 6u);
    EXPECT_EQ(host.pageCalls[0], "reloadServerList[]");
    EXPECT_EQ(host.pageCalls[1], R"(setSelectedServerHeader["Kaltris Nexum 2.5"])");
    EXPECT_EQ(host.pageCalls[4], R"(setPlayButtonCaption["Install"])");
}

TEST_F(LauncherMessagesTest, AnEmptyVersionTextIsShownAsUnavailable) {
    deliver(WM_SELECTED_VERSION, 0, reinterpret_cast<std::intptr_t>(new SelectedVersionRecord{0, u"", VersionShown::Known, u""}));
    EXPECT_EQ(state.selectedVersion, u"Unavailable");
    EXPECT_EQ(posted(), std::vector<unsigned>{WM_REFRESH_PAGE});
}

TEST_F(LauncherMessagesTest, StatusForAnIndexOutsideTheListIsDropped) {
    deliver(WM_SERVER_STATUS, 0, reinterpret_cast<std::intptr_t>(new ServerStatusRecord{0, 1, 1, false, u""}));
    deliver(WM_SERVER_STATUS, 0, reinterpret_cast<std::intptr_t>(new ServerStatusRecord{0, -1, 1, false, u""}));
    EXPECT_TRUE(posted().empty());
    deliver(WM_SERVER_STATUS, 0, reinterpret_cast<std::intptr_t>(new ServerStatusRecord{0, 0, 2, false, u""}));
    EXPECT_EQ(state.entryStatuses[0], 2);
    EXPECT_EQ(posted(), std::vector<unsigned>{WM_RELOAD_SERVER_LIST});
}

TEST_F(LauncherMessagesTest, WithoutAStateOnlyThePayloadIsFreed) {
    handleLauncherMessage(nullptr, host, {WM_SELECTED_VERSION, 0,
                                          reinterpret_cast<std::intptr_t>(new SelectedVersionRecord{0, u"2.5", VersionShown::Known, u""})});
    handleLauncherMessage(nullptr, host, {WM_PATCH_FINISHED, 1, text(u"x")});
    EXPECT_TRUE(host.pageCalls.empty());
    EXPECT_TRUE(posted().empty());
    EXPECT_TRUE(state.selectedVersion.empty());
}

TEST(TestSteps, ScriptSplitsAtSeparatorLinesOnly) {
    EXPECT_EQ(splitTestSteps("return 1;\n---\nconst a = '---';\nreturn a;\n---\n\n"),
              (std::vector<std::string>{"return 1;\n", "const a = '---';\nreturn a;\n"}));
}

}  // namespace
}  // namespace mendly
