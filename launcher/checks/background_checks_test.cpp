#include "checks/background_checks.h"

#include <gtest/gtest.h>

#include "bridge/recording_page_host_testing.h"
#include "model/bridge_json.h"
#include "model/state_test_fixture.h"
#include "support/loopback_server.h"

namespace mendly {
namespace {

// Entries on a loopback patch host: "live" publishes KaltrisNexum-2.5.1,
// "empty" an empty version file, "gone" nothing (404).
class BackgroundChecksTest : public test::LauncherStateTest {
protected:
    void SetUp() override {
        LauncherStateTest::SetUp();
        server.respond("/live/_version._", 200, "\xEF\xBB\xBFKaltrisNexum-2.5.1\r\n");
        server.respond("/empty/_version._", 200, "");
        setEntries({entry("live"), entry("empty"), entry("gone"), entry("live2", "live")}, 2);
        state.window = reinterpret_cast<EngineWindow*>(&host);  // "the window is shown"
    }
    ServerEntry entry(std::string name, std::string server = "") {
        ServerEntry e = test::makeEntry(name);
        e.server = server.empty() ? name : server;
        e.patchBaseUrl = this->server.baseUrl() + "/";
        return e;
    }
    // Runs the UI side: hands every queued message to the handler until
    // `until` holds or the time is up, then what the handlers posted.
    bool pump(const std::function<bool()>& until) {
        for (int i = 0; i < 400 && !until(); ++i) {
            deliverQueued();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        while (deliverQueued()) {
        }
        return until();
    }
    bool deliverQueued() {
        const auto messages = host.box->take();
        for (const auto& message : messages) {
            handled.push_back(message.message);
            handleLauncherMessage(&state, host, message);
        }
        return !messages.empty();
    }

    test::LoopbackServer server;
    test::RecordingPageHost host;
    std::vector<unsigned> handled;
};

TEST_F(BackgroundChecksTest, SelectingShowsLoadingThenThePublishedVersion) {
    ASSERT_TRUE(selectEntry(state, host, 3));
    EXPECT_EQ(state.selectedVersion, u"Loading\u2026");
    ASSERT_TRUE(pump([&] { return state.selectedVersion != u"Loading\u2026"; }));
    EXPECT_EQ(state.selectedVersion, u"2.5.1");
    EXPECT_EQ(handled.front(), WM_REFRESH_PAGE);
    EXPECT_EQ(host.pageCalls.back().rfind("updateLauncherFooter", 0), 0u);
    EXPECT_NE(std::find(host.pageCalls.begin(), host.pageCalls.end(), R"(setSelectedServerVersion["2.5.1","known"])"),
              host.pageCalls.end());
}

TEST_F(BackgroundChecksTest, SelectingAClientNotInstalledShowsItsInstallSizeAndAnotherSelectionForgetsIt) {
    server.respond("/live.manifest", 200,
                   R"({"files":[{"md5":"0123456789abcdef0123456789abcdef","relative":"a.bin","size":1048576},)"
                   R"({"md5":"0123456789abcdef0123456789abcde0","relative":"b.bin","size":209716}]})");
    ASSERT_TRUE(selectEntry(state, host, 0));
    ASSERT_TRUE(pump([&] { return !state.sizeText.empty(); }));
    EXPECT_EQ(state.sizeText, u"1.2 MB");
    EXPECT_NE(host.pageCalls.back().find(R"(\"sizeText\":\"1.2 MB\")"), std::string::npos) << host.pageCalls.back();
    // A host that serves no manifest gives no size.
    ASSERT_TRUE(selectEntry(state, host, 1));
    EXPECT_EQ(state.sizeText, u"");
    ASSERT_TRUE(pump([&] { return state.selectedVersion != u"Loading\u2026"; }));
    EXPECT_EQ(state.sizeText, u"");
}

TEST_F(BackgroundChecksTest, AFailedFetchShowsUnavailableAndAnEmptyFileADash) {
    ASSERT_TRUE(selectEntry(state, host, 2));
    ASSERT_TRUE(pump([&] { return state.selectedVersion != u"Loading\u2026"; }));
    EXPECT_EQ(state.selectedVersion, u"Unavailable");
    ASSERT_TRUE(selectEntry(state, host, 1));
    ASSERT_TRUE(pump([&] { return state.selectedVersion != u"Loading\u2026"; }));
    EXPECT_EQ(state.selectedVersion, u"\u2014");
}

TEST_F(BackgroundChecksTest, AHostThatFailsItsCheckIsMarkedUntilRetryFindsItAnswering) {
    ASSERT_TRUE(selectEntry(state, host, 2));
    ASSERT_TRUE(pump([&] { return state.selectedVersion != u"Loading\u2026"; }));
    EXPECT_EQ(state.selectedVersionShown, VersionShown::Unavailable);
    ASSERT_NE(state.selectedProblem(), nullptr);
    EXPECT_EQ(state.selectedProblem()->caption, u"Server unreachable");
    EXPECT_NE(state.selectedProblem()->detail.find(u"404"), std::u16string::npos);
    EXPECT_NE(buildServerListHtml(state).find(R"(<div class="tile-problem">Server unreachable</div>)"),
              std::string::npos);
    EXPECT_FALSE(state.canPlay());  // nothing is installed: Install waits for the host

    server.respond("/gone/_version._", 200, "2.6.0");
    state.entryProblems[2].kind = ProblemKind::Unreachable;  // still marked while the retry runs
    retryChecks(state, host);
    EXPECT_EQ(state.selectedVersion, u"Loading\u2026");
    ASSERT_TRUE(pump([&] { return state.selectedVersion != u"Loading\u2026"; }));
    EXPECT_EQ(state.selectedVersion, u"2.6.0");
    EXPECT_EQ(state.selectedVersionShown, VersionShown::Known);
    EXPECT_EQ(state.selectedProblem(), nullptr);
    EXPECT_TRUE(state.canPlay());
}

TEST_F(BackgroundChecksTest, RetryWhileBusyAsksNothing) {
    state.busy = true;
    retryChecks(state, host);
    EXPECT_TRUE(host.box->take().empty());
    EXPECT_EQ(server.totalRequests(), 0u);
}

TEST_F(BackgroundChecksTest, AVersionForAnEntryNoLongerSelectedIsDropped) {
    versionFetchWorker(host.box, {0, server.wideUrl("/live/_version._")});
    state.selected = 1;
    state.selectedVersion = u"Loading\u2026";
    for (const auto& message : host.box->take()) handleLauncherMessage(&state, host, message);
    EXPECT_EQ(state.selectedVersion, u"Loading\u2026");
    EXPECT_TRUE(host.box->take().empty());  // no refresh either
}

TEST_F(BackgroundChecksTest, SelectingWhileBusyChangesNothing) {
    state.busy = true;
    EXPECT_FALSE(selectEntry(state, host, 3));
    EXPECT_EQ(state.selected, 0);
    EXPECT_TRUE(state.selectedVersion.empty());
}

TEST_F(BackgroundChecksTest, StatusMarksCompareTheLocalVersionWithThePublishedOne) {
    install(0);
    test::writeFile(state.installFolderOf(state.catalog.entries[0]) / "_version._", "KaltrisNexum-2.5.1\n");
    install(3);  // installed without a local _version._
    install(2);  // installed, but its host has no version file
    refreshStatuses(state, host);
    ASSERT_EQ(state.checkGeneration, 1);
    ASSERT_TRUE(pump([&] { return std::count(handled.begin(), handled.end(), WM_SERVER_STATUS) == 4; }));
    EXPECT_EQ(state.entryStatuses, (std::vector<std::int32_t>{1, 0, 0, 2}));
    EXPECT_EQ(server.requestCount("/empty/_version._"), 0u);  // not installed: not asked
    // Every accepted result makes the page rebuild its tiles.
    EXPECT_EQ(std::count(handled.begin(), handled.end(), WM_RELOAD_SERVER_LIST), 4);
    EXPECT_EQ(std::count(host.pageCalls.begin(), host.pageCalls.end(), "reloadServerList[]"), 4);
}

TEST_F(BackgroundChecksTest, OnlyTheNewestStatusCheckCounts) {
    install(3);
    StatusCheck stale = *state.beginStatusCheck();
    StatusCheck fresh = *state.beginStatusCheck();
    stale.jobs.resize(1);
    stale.jobs[0] = fresh.jobs[3];  // the stale check would mark entry 3 ...
    statusCheckWorker(host.box, stale);
    for (const auto& message : host.box->take()) handleLauncherMessage(&state, host, message);
    EXPECT_EQ(state.entryStatuses[3], 0);  // ... but its result is dropped
    EXPECT_TRUE(host.pageCalls.empty());
    statusCheckWorker(host.box, fresh);
    pump([&] { return state.entryStatuses[3] == 2; });
    EXPECT_EQ(state.entryStatuses[3], 2);
}

TEST_F(BackgroundChecksTest, AWorkerWhoseWindowIsGoneFreesItsRecordsAndStops) {
    install(3);
    host.box->open = false;
    statusCheckWorker(host.box, *state.beginStatusCheck());
    versionFetchWorker(host.box, {0, server.wideUrl("/live/_version._")});
    EXPECT_EQ(server.requestCount("/live/_version._"), 1u);  // the status check stopped at its first post
}

TEST_F(BackgroundChecksTest, ReloadKeepsPositionMarksAndClampsTheSelection) {
    state.entryStatuses = {1, 2, 1, 2};
    state.selected = 3;
    const std::int32_t generation = state.checkGeneration;
    reloadCatalog(state, host);  // no customlist.json: the two built-in entries
    ASSERT_EQ(state.catalog.entries.size(), 2u);
    EXPECT_EQ(state.selected, 0);
    EXPECT_EQ(state.entryStatuses, (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(state.checkGeneration, generation + 1);
}

}  // namespace
}  // namespace mendly
