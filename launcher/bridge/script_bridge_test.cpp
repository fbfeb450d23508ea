#include "bridge/script_bridge.h"

#include <gtest/gtest.h>

#include "bridge/recording_page_host_testing.h"
#include "log/text.h"
#include "model/fake_shell_opener.h"
#include "model/state_test_fixture.h"
#include "support/loopback_server.h"

namespace mendly {
namespace {

using test::makeEntry;

class ScriptBridgeTest : public test::LauncherStateTest {
protected:
    void SetUp() override {
        LauncherStateTest::SetUp();
        setEntries({makeEntry("retail", "Kaltris Nexum 2.5"), makeEntry("pts"), makeEntry("mine", "Mine")}, 2);
        state.shortcuts = {{"Forum", ShortcutKind::Webpage, "https://forum.example"}};
    }

    // Calls like the page does; the answer must come at once.
    nlohmann::json call(const std::string& name, nlohmann::json args = nlohmann::json::array()) {
        nlohmann::json result = "(no answer)";
        int answers = 0;
        const bool handled = bridge.dispatch(name, args, [&](const nlohmann::json& value) {
            result = value;
            ++answers;
        });
        EXPECT_TRUE(handled) << name;
        EXPECT_EQ(answers, 1) << name;
        return result;
    }
    bool handles(const std::string& name, nlohmann::json args) {
        return bridge.dispatch(name, args, [](const nlohmann::json&) { ADD_FAILURE() << "answered"; });
    }

    test::RecordingPageHost host;
    test::FakeShellOpener opener;
    ScriptBridge bridge{&state, host, opener};
};

TEST_F(ScriptBridgeTest, SelectServerTruncatesAFractionalIndex) {
    EXPECT_EQ(call("selectServer", {2.9}), true);
    EXPECT_EQ(state.selected, 2);
}

TEST_F(ScriptBridgeTest, SelectServerCountsATextIndexAsZero) {
    state.selected = 1;
    EXPECT_EQ(call("selectServer", {"2"}), true);
    EXPECT_EQ(state.selected, 0);
}

TEST_F(ScriptBridgeTest, SelectServerRefreshesThePageInOrderEvenWhenRefusedWhileBusy) {
    install(0);
    state.busy = true;
    state.launchAfterTask = true;
    state.taskStatus = u"Verifying local files...";
    state.selectedVersion = u"2.5.1";
    state.selectedVersionShown = VersionShown::Known;
    EXPECT_EQ(call("selectServer", {1}), true);
    EXPECT_EQ(state.selected, 0);
    const std::vector<std::string> expected = {
        R"(setSelectedServerHeader["Kaltris Nexum 2.5"])",
        R"(setSelectedServerVersion["2.5.1","known"])",
        R"(setSelectedLanguage["en"])",
        R"(setPlayButtonCaption["Patching..."])",
        R"(updateLauncherFooter["{\"busy\":true,\"canPause\":false,\"canPlay\":false,\"installedVersion\":\"\",)"
        R"(\"paused\":false,\"playLabel\":\"Patching...\",\"problem\":null,\"progressDone\":0,\"progressTotal\":0,)"
        R"(\"progressVisible\":false,\"sizeText\":\"\",\"taskStatus\":\"Verifying local files...\",)"
        R"(\"transferText\":\"\",\"versionState\":\"known\"}"])",
    };
    EXPECT_EQ(host.pageCalls, expected);
}

TEST_F(ScriptBridgeTest, SelectionWithoutAWindowShowsADashAndFetchesNothing) {
    EXPECT_EQ(call("selectServer", {2}), true);
    EXPECT_EQ(state.selectedVersion, u"\u2014");
    EXPECT_TRUE(host.box->take().empty());
}

TEST_F(ScriptBridgeTest, FooterOfAnIdleLauncherWithAnInstalledSelection) {
    install(0);
    EXPECT_EQ(call("getFooterStateJson"),
              R"({"busy":false,"canPause":false,"canPlay":true,"installedVersion":"","paused":false,)"
              R"("playLabel":"Launch","problem":null,"progressDone":0,"progressTotal":0,"progressVisible":false,)"
              R"("sizeText":"","taskStatus":"","transferText":"","versionState":"none"})");
}

TEST_F(ScriptBridgeTest, VersionIsEmptyBeforeAnyFetch) { EXPECT_EQ(call("getSelectedServerVersion"), ""); }

TEST_F(ScriptBridgeTest, ReadersAnswerFromTheState) {
    state.selected = 2;
    EXPECT_EQ(call("getSelectedServerHeader"), "Mine");
    EXPECT_EQ(call("getPlayButtonLabel"), "Install");
    EXPECT_EQ(call("getLanguage"), "en");
    EXPECT_EQ(call("getShortcutsJson"), R"([{"exec":"https://forum.example","index":0,"name":"Forum","type":"Webpage"}])");
    const std::string html = call("getServerListHtml");
    EXPECT_NE(html.find(R"(<div class="server-tile selected" data-index="2" data-name="mine")"), std::string::npos);
    EXPECT_EQ(call("getServersJson").get<std::string>().rfind(R"({"servers":[{"desc":"Kaltris Nexum 2.5",)", 0), 0u);
    EXPECT_EQ(call("getUiState")["servers"].size(), 3u);
}

TEST_F(ScriptBridgeTest, WithoutAStateEveryFunctionGivesItsFallback) {
    bridge.setState(nullptr);
    EXPECT_TRUE(call("getUiState").is_discarded());
    EXPECT_TRUE(call("getServersJson").is_discarded());
    EXPECT_EQ(call("getSelectedServerHeader"), "\u2014");
    EXPECT_EQ(call("getServerListHtml"), R"(<div class="server-empty">No servers configured</div>)");
    EXPECT_EQ(call("getLanguage"), "en");
    EXPECT_EQ(call("getSelectedServerVersion"), "\u2014");
    EXPECT_EQ(call("getFooterStateJson"), "{}");
    EXPECT_EQ(call("getPlayButtonLabel"), "Install");
    EXPECT_EQ(call("getShortcutsJson"), "[]");
    EXPECT_EQ(call("selectServer", {1}), true);
    EXPECT_EQ(call("play"), true);
    EXPECT_EQ(call("reinstall"), true);
    for (const char* name : {"install", "resetIniDirectory", "configure", "duplicateInstallation",
                             "openInstallFolder", "deleteInstallation", "cancelPatch"})
        EXPECT_EQ(call(name), false) << name;
    EXPECT_EQ(call("launchShortcut", {0}), false);
    EXPECT_EQ(call("setLanguage", {"de"}), false);
    EXPECT_TRUE(host.pageCalls.empty());
    EXPECT_TRUE(opener.calls.empty());
}

TEST_F(ScriptBridgeTest, TaskAndDialogFunctionsAnswerTrueWithAState) {
    for (const char* name : {"play", "install", "resetIniDirectory", "reinstall", "configure", "duplicateInstallation",
                             "openInstallFolder", "deleteInstallation", "cancelPatch"})
        EXPECT_EQ(call(name), true) << name;
}

TEST_F(ScriptBridgeTest, ScriptObjectMethodsAnswerFromTheState) {
    EXPECT_EQ(call("launcher.asset_url", {"img\\logo.png"}), "file://" + program.path().string() + "/img/logo.png");
    EXPECT_EQ(call("launcher.asset_url", {7}), "file://" + program.path().string() + "/7");
    EXPECT_EQ(call("launcher.asset_url", {nlohmann::json::array({1, "a"})}),
              "file://" + program.path().string() + "/[1,\"a\"]");
    // A value nested deeper than any page sends is no path (writing out one
    // nested a few hundred thousand levels would exhaust the stack).
    nlohmann::json deep = nlohmann::json::array();
    for (int i = 0; i < 1000; ++i) deep = nlohmann::json::array({std::move(deep)});
    EXPECT_EQ(call("launcher.asset_url", {deep}), "file://" + program.path().string() + "/");
    EXPECT_EQ(call("launcher.select_server", {2}), true);
    EXPECT_EQ(state.selected, 2);
    EXPECT_EQ(call("launcher.select_server", {1.5}), true);  // not an integer: index 0
    EXPECT_EQ(state.selected, 0);
    EXPECT_TRUE(host.pageCalls.empty());  // selecting through the object does not refresh the page
    EXPECT_EQ(call("launcher.play"), true);  // not installed: an Install run
    ASSERT_EQ(host.starts.size(), 1u);
    EXPECT_EQ(host.starts[0].mode, PatchMode::Install);
    EXPECT_EQ(call("launcher.reinstall"), true);  // busy now: neither asked nor started
    EXPECT_TRUE(host.questions.empty());
    EXPECT_EQ(host.starts.size(), 1u);
    bridge.setState(nullptr);
    EXPECT_EQ(call("launcher.asset_url", {"x"}), "");
    EXPECT_EQ(call("launcher.play"), false);
    EXPECT_EQ(call("launcher.select_server", {1}), false);
}

TEST_F(ScriptBridgeTest, OtherNamesOrArgumentCountsAreNotHandled) {
    EXPECT_FALSE(handles("selectserver", {1}));
    EXPECT_FALSE(handles("selectServer", nlohmann::json::array()));
    EXPECT_FALSE(handles("play", {1}));
    EXPECT_FALSE(handles("fetchRssFeed", {"http://127.0.0.1:1/rss"}));
    EXPECT_FALSE(handles("windowClose", nlohmann::json::array()));  // answered by the window itself
}

TEST_F(ScriptBridgeTest, LaunchShortcutWithATextIndexStartsNothing) {
    EXPECT_EQ(call("launchShortcut", {"x"}), false);
    EXPECT_TRUE(opener.calls.empty());
}

TEST_F(ScriptBridgeTest, LaunchShortcutOpensTheWebpage) {
    EXPECT_EQ(call("launchShortcut", {0.5}), true);
    EXPECT_EQ(opener.calls, std::vector<std::string>{"uri https://forum.example"});
}

TEST_F(ScriptBridgeTest, OpenUrlRejectsEmptyAndNonWebAddresses) {
    EXPECT_EQ(call("openUrl", {""}), false);
    EXPECT_EQ(call("openUrl", {42}), false);
    EXPECT_EQ(call("openUrl", {"file:///etc/passwd"}), false);
    EXPECT_EQ(call("openUrl", {"/usr/bin/xterm"}), false);
    EXPECT_EQ(call("openUrl", {"javascript:alert(1)"}), false);
    EXPECT_TRUE(opener.calls.empty());
    EXPECT_EQ(call("openUrl", {"HTTPS://www.kaltris.invalid/news?id=1"}), true);
    EXPECT_EQ(opener.calls, std::vector<std::string>{"uri HTTPS://www.kaltris.invalid/news?id=1"});
}

TEST_F(ScriptBridgeTest, OpenUrlReportsAShellRefusal) {
    opener.accept = false;
    EXPECT_EQ(call("openUrl", {"http://www.kaltris.invalid"}), false);
}

TEST_F(ScriptBridgeTest, SetLanguageWritesTheSelectedInstallationsFile) {
    EXPECT_EQ(call("setLanguage", {"de"}), true);
    EXPECT_EQ(test::readFile(state.installFolderOf(state.catalog.entries[0]) / "ini" / "language.ini"),
              "[INI]\r\nLANGUAGE=de\r\n");
    EXPECT_EQ(call("getLanguage"), "de");
}

TEST_F(ScriptBridgeTest, SetLanguageWithANumberWritesNothing) {
    EXPECT_EQ(call("setLanguage", {7}), true);
    EXPECT_FALSE(std::filesystem::exists(state.installFolderOf(state.catalog.entries[0]) / "ini"));
    EXPECT_TRUE(host.notices.empty());
}

TEST_F(ScriptBridgeTest, RssFeedIsAnsweredLaterFromAWorker) {
    test::LoopbackServer server;
    server.respond("/rss/launcher", 200,
                   "<rss><channel><item><title>Patch 2.5.1</title><link>https://k.invalid/1</link>"
                   "<pubDate>Mon, 07 Dec 2026</pubDate><description>Fixes</description></item></channel></rss>",
                   "application/rss+xml");
    nlohmann::json result;
    int answers = 0;
    ASSERT_TRUE(bridge.dispatch("fetchRssFeed", {server.url("/rss/launcher"), 6}, [&](const nlohmann::json& value) {
        result = value;
        ++answers;
    }));
    EXPECT_EQ(answers, 0);  // not on the calling thread
    ASSERT_TRUE(host.deliverDetached(1));
    ASSERT_EQ(answers, 1);
    EXPECT_EQ(result["error"], "");
    ASSERT_EQ(result["items"].size(), 1u);
    EXPECT_EQ(result["items"][0]["title"], "Patch 2.5.1");
    EXPECT_EQ(result["items"][0]["link"], "https://k.invalid/1");
}

class FeedCallsTest : public ScriptBridgeTest {
protected:
    // Dispatches fetchRssFeed and keeps every answer, now or later.
    void fetch(const std::string& url, int maximum = 6) {
        ASSERT_TRUE(bridge.dispatch("fetchRssFeed", {url, maximum},
                                    [this](const nlohmann::json& value) { answers.push_back(value); }));
    }
    std::vector<nlohmann::json> answers;
};

TEST_F(FeedCallsTest, CallsForAFeedBeingFetchedShareOneDownload) {
    test::LoopbackServer server;
    server.setAnswerDelay(std::chrono::milliseconds(300));
    server.respond("/rss", 200, "<item><title>Shared</title></item>");
    for (int i = 0; i < 5; ++i) fetch(server.url("/rss"));
    fetch(server.url("/rss"), 3);  // another item count is another feed
    ASSERT_TRUE(host.deliverDetached(2));
    ASSERT_EQ(answers.size(), 6u);
    for (const auto& answer : answers) EXPECT_EQ(answer["items"][0]["title"], "Shared");
    EXPECT_EQ(server.totalRequests(), 2u);
}

TEST_F(FeedCallsTest, FeedsBeyondWhatThePoolHoldsAreAnsweredAtOnceAsUnavailable) {
    test::LoopbackServer server;  // stops, and so ends the stalled downloads, before the host goes
    const auto [threads, queued] = test::RecordingPageHost::kPoolLimits;
    const auto path = [](std::size_t i) { return "/rss" + std::to_string(i); };
    for (std::size_t i = 0; i < threads + queued + 5; ++i) server.stallBeforeHeaders(path(i));
    // Every worker busy with its download first, so that the rest must wait.
    for (std::size_t i = 0; i < threads; ++i) fetch(server.url(path(i)));
    for (std::size_t i = 0; i < threads; ++i) ASSERT_TRUE(server.waitForRequests(path(i), 1));
    for (std::size_t i = threads; i < threads + queued + 5; ++i) fetch(server.url(path(i)));
    ASSERT_EQ(answers.size(), 5u);
    for (const auto& answer : answers)
        EXPECT_EQ(answer, (nlohmann::json{{"error", toUtf8(kFeedsBusy)}, {"items", nlohmann::json::array()}}));
    EXPECT_LE(host.pool.mostWorkers(), test::RecordingPageHost::kPoolLimits.threads);
}

TEST_F(FeedCallsTest, AFeedWithoutAWorkerThreadIsAnsweredWithASentence) {
    host.threadsFail = true;
    fetch("http://127.0.0.1:1/rss");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["error"], toUtf8(kFeedsWithoutThread));
    EXPECT_EQ(answers[0]["items"], nlohmann::json::array());
}

TEST(WebAddress, OnlyHttpAndHttpsWithSomethingAfterTheScheme) {
    EXPECT_TRUE(isWebAddress(u"http://a"));
    EXPECT_TRUE(isWebAddress(u"Https://a/b"));
    EXPECT_FALSE(isWebAddress(u"http://"));
    EXPECT_FALSE(isWebAddress(u"ftp://a"));
    EXPECT_FALSE(isWebAddress(u"xhttp://a"));
    EXPECT_FALSE(isWebAddress(u""));
}

}  // namespace
}  // namespace mendly
