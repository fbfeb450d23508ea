#include "model/bridge_json.h"

#include <gtest/gtest.h>

#include <limits>

#include "model/server_version.h"
#include "patch/cancel_flag.h"
#include "state_test_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using test::makeEntry;

class BridgeTest : public test::LauncherStateTest {
protected:
    void SetUp() override {
        LauncherStateTest::SetUp();
        setEntries({makeEntry("retail", "Kaltris Nexum 2.5"), makeEntry("a\"b&c<d>e'f")}, 1);
    }
};

TEST_F(BridgeTest, FooterForAnIdleLauncherWithAnInstalledSelection) {
    install(0);
    EXPECT_EQ(buildFooterStateJson(state),
              R"({"busy":false,"canPause":false,"canPlay":true,"installedVersion":"","paused":false,)"
              R"("playLabel":"Launch","problem":null,"progressDone":0,"progressTotal":0,"progressVisible":false,)"
              R"("sizeText":"","taskStatus":"","transferText":"","versionState":"none"})");
}

TEST_F(BridgeTest, FooterWhileATaskRuns) {
    state.busy = true;
    state.launchAfterTask = true;
    state.progressDone = 3;
    state.progressTotal = 40;
    state.taskStatus = u"Downloading files... 1.2 MB/s \u2014 \u00fcber";
    state.transfer = PatchTransfer{1258291, 10u << 20, 1048576.0, 75};
    EXPECT_EQ(buildFooterStateJson(state),
              R"({"busy":true,"canPause":true,"canPlay":false,"installedVersion":"","paused":false,)"
              R"("playLabel":"Patching...","problem":null,"progressDone":3,"progressTotal":40,"progressVisible":true,)"
              R"("sizeText":"","taskStatus":"Downloading files... 1.2 MB/s — über",)"
              R"("transferText":"1.2 MB of 10.0 MB · 1.0 MB/s · 2 min left","versionState":"none"})");
    state.pauseRequested = true;  // Pause was pressed: not offered again, and the label says so
    EXPECT_NE(buildFooterStateJson(state).find(R"("canPause":false)"), std::string::npos);
    EXPECT_EQ(state.playButtonLabel(), u"Pausing...");
}

TEST_F(BridgeTest, ServersJsonHasTheRawFieldsInKeyOrder) {
    state.catalog.entries[1].installPath = "/games/custom";
    state.catalog.entries.push_back({"x", "", "s", "https://h.invalid:8080", "", ""});
    EXPECT_EQ(buildServersJson(state),
              R"({"servers":[{"desc":"Kaltris Nexum 2.5","launchExecutable":"kaltrisclient.exe","name":"retail",)"
              R"("patchBaseUrl":"http://127.0.0.1:1","server":"aurum"},)"
              R"({"desc":"","installPath":"/games/custom","launchExecutable":"kaltrisclient.exe",)"
              R"("name":"a\"b&c<d>e'f","patchBaseUrl":"http://127.0.0.1:1","server":"aurum"},)"
              R"({"desc":"","launchExecutable":"","name":"x","patchBaseUrl":"https://h.invalid:8080","server":"s"}]})");
}

TEST(ShortcutsJson, ListsEveryShortcutWithItsIndex) {
    EXPECT_EQ(buildShortcutsJson({}), "[]");
    EXPECT_EQ(buildShortcutsJson({{"Forum", ShortcutKind::Webpage, "https://f.invalid/"},
                                  {"Werkzeug \xC3\xBC", ShortcutKind::Program, "C:/Tools/tool.exe"}}),
              R"([{"exec":"https://f.invalid/","index":0,"name":"Forum","type":"Webpage"},)"
              R"({"exec":"C:/Tools/tool.exe","index":1,"name":"Werkzeug ü","type":"Program"}])");
}

TEST(HtmlAttribute, EscapesQuoteAmpersandAndLessThanOnly) {
    EXPECT_EQ(escapeHtmlAttribute(R"(a"b&c<d>e'f)"), "a&quot;b&amp;c&lt;d>e'f");
    EXPECT_EQ(escapeHtmlAttribute("\xC3\xBC&amp;"), "\xC3\xBC&amp;amp;");
}

TEST_F(BridgeTest, TileHtmlOfASelectedInstalledBuiltInAndAnEscapedCustomEntry) {
    install(0);
    state.entryStatuses = {kStatusUpToDate, kStatusOutOfDate};  // the second is not installed: no mark
    EXPECT_EQ(buildServerListHtml(state),
              R"(<div class="server-tile selected" data-index="0" data-name="retail" data-desc="Kaltris Nexum 2.5" )"
              R"(data-custom="0" data-installed="1"><span class="tile-status current" title="Up to date">&#10003;</span>)"
              R"(<img src="icon_48.png" alt="" /><div class="server-name">Kaltris Nexum 2.5</div></div>)"
              R"(<div class="server-tile" data-index="1" data-name="a&quot;b&amp;c&lt;d>e'f" )"
              R"(data-desc="a&quot;b&amp;c&lt;d>e'f" data-custom="1" data-installed="0">)"
              R"(<img src="icon_48.png" alt="" /><div class="server-name">a&quot;b&amp;c&lt;d>e'f</div></div>)");
}

TEST_F(BridgeTest, OutOfDateMarkOnAnInstalledTile) {
    install(1);
    state.selected = 1;
    state.entryStatuses = {kStatusUndetermined, kStatusOutOfDate};
    const auto html = buildServerListHtml(state);
    EXPECT_NE(html.find(R"(data-installed="1"><span class="tile-status outdated" title="Out of date">&#9888;</span><img)"),
              std::string::npos);
    EXPECT_EQ(html.find("tile-status current"), std::string::npos);
    EXPECT_NE(html.find(R"(<div class="server-tile selected" data-index="1")"), std::string::npos);
}

TEST_F(BridgeTest, APartlyDownloadedEntryIsNamedSoOnItsTileAndResumesUntilItIsInstalled) {
    const std::filesystem::path staging = state.installFolderOf(state.catalog.entries[0]) / ".mendly-staging";
    test::writeFile(staging / "0123456789abcdef0123456789abcdef", std::string(3 * 1048576 + 1000, 'x'));
    test::writeFile(staging / "0123456789abcdef0123456789abcde0.part", std::string(5 * 1048576, 'x'));  // not reusable
    auto html = buildServerListHtml(state);
    EXPECT_NE(html.find(R"(data-installed="0" data-partial="1"><img src="icon_48.png" alt="" />)"
                        R"(<div class="server-name">Kaltris Nexum 2.5</div>)"
                        R"(<div class="tile-state">Partly downloaded (3 MB)</div></div>)"),
              std::string::npos)
        << html;
    EXPECT_EQ(html.find(R"(data-partial="1"><img src="icon_48.png" alt="" /><div class="server-name">a&quot;)"),
              std::string::npos);  // the other entry has nothing staged
    EXPECT_EQ(state.playButtonLabel(), u"Resume");

    // A problem outranks the state line; the mark stays.
    state.noteTaskFailure(0, PatchMode::Install, u"Disk full");
    html = buildServerListHtml(state);
    EXPECT_EQ(html.find("tile-state"), std::string::npos);
    EXPECT_NE(html.find(R"(data-partial="1")"), std::string::npos);

    // Once installed, what is staged is an update's business: no longer partly downloaded.
    install(0);
    EXPECT_EQ(buildServerListHtml(state).find("data-partial"), std::string::npos);
    EXPECT_EQ(state.playButtonLabel(), u"Launch");
}

TEST_F(BridgeTest, FooterNamesTheSelectedProblemTheInstalledVersionAndWhatTheVersionTextIs) {
    install(0);
    test::writeFile(state.installFolderOf(state.catalog.entries[0]) / "_version._", "KaltrisNexum-2.5.0\r\n");
    state.entryStatuses = {kStatusOutOfDate, kStatusUndetermined};
    ASSERT_TRUE(state.onSelectedVersion(0, u"Unavailable", VersionShown::Unavailable));
    ASSERT_TRUE(state.noteCheckOutcome(0, u"Could not connect to the server. (error 7)"));
    const nlohmann::json footer = nlohmann::json::parse(buildFooterStateJson(state));
    EXPECT_EQ(footer["installedVersion"], "2.5.0");
    EXPECT_EQ(footer["versionState"], "unavailable");
    EXPECT_EQ(footer["problem"], (nlohmann::json{{"caption", "Server unreachable"},
                                                 {"detail", "Could not connect to the server. (error 7)"},
                                                 {"kind", "unreachable"}}));
    EXPECT_EQ(footer["playLabel"], "Update");
    EXPECT_EQ(footer["canPlay"], true);  // installed: the game can still be started
    // Another entry has no problem of its own.
    state.selected = 1;
    EXPECT_EQ(nlohmann::json::parse(buildFooterStateJson(state))["problem"], nullptr);
}

TEST_F(BridgeTest, AProblemReplacesTheStatusMarkAndIsNamedBelowTheTileName) {
    install(0);
    state.entryStatuses = {kStatusUpToDate, kStatusUndetermined};
    state.noteTaskFailure(0, PatchMode::Update, u"Disk full");
    ASSERT_TRUE(state.noteCheckOutcome(1, u"Could not find the server. (error 6)"));
    EXPECT_EQ(buildServerListHtml(state),
              R"(<div class="server-tile selected" data-index="0" data-name="retail" data-desc="Kaltris Nexum 2.5" )"
              R"(data-custom="0" data-installed="1"><span class="tile-status problem" title="Update failed">!</span>)"
              R"(<img src="icon_48.png" alt="" /><div class="server-name">Kaltris Nexum 2.5</div>)"
              R"(<div class="tile-problem">Update failed</div></div>)"
              R"(<div class="server-tile" data-index="1" data-name="a&quot;b&amp;c&lt;d>e'f" )"
              R"(data-desc="a&quot;b&amp;c&lt;d>e'f" data-custom="1" data-installed="0">)"
              R"(<span class="tile-status problem" title="Server unreachable">!</span>)"
              R"(<img src="icon_48.png" alt="" /><div class="server-name">a&quot;b&amp;c&lt;d>e'f</div>)"
              R"(<div class="tile-problem">Server unreachable</div></div>)");
    // Once the host answers again the entry is as before.
    ASSERT_TRUE(state.noteCheckOutcome(1, u""));
    EXPECT_EQ(buildServerListHtml(state).find("Server unreachable"), std::string::npos);
}

TEST_F(BridgeTest, InstalledTileWithUndeterminedOrMissingStatusHasNoMark) {
    install(0);
    install(1);
    state.entryStatuses = {kStatusUndetermined};  // shorter than the catalog
    EXPECT_EQ(buildServerListHtml(state).find("tile-status"), std::string::npos);
}

TEST_F(BridgeTest, EmptyCatalogGivesTheEmptyListText) {
    state.catalog.entries.clear();
    state.selected = -1;
    EXPECT_EQ(buildServerListHtml(state), R"(<div class="server-empty">No servers configured</div>)");
}

TEST_F(BridgeTest, UiStateKeepsItsKeyOrder) {
    state.selected = 1;
    state.taskStatus = u"";
    EXPECT_EQ(buildUiState(state).dump(),
              R"({"servers":[{"name":"retail","desc":"Kaltris Nexum 2.5","index":0,"selected":false},)"
              R"({"name":"a\"b&c<d>e'f","desc":"a\"b&c<d>e'f","index":1,"selected":true}],)"
              R"("selected":1,"busy":false,"taskStatus":"","progressDone":0,"progressTotal":0,)"
              R"("progressVisible":false,"canPlay":true,"playLabel":"Install","iconUrl":"icon_48.png"})");
}

TEST(ArgumentConversion, SelectServerTruncatesNumbersAndTakesOtherValuesAsZero) {
    EXPECT_EQ(selectServerIndex(2.9), 2);
    EXPECT_EQ(selectServerIndex("2"), 0);
    EXPECT_EQ(selectServerIndex(2), 2);
    EXPECT_EQ(selectServerIndex(-1), -1);
    EXPECT_EQ(selectServerIndex(-0.9), 0);
    EXPECT_EQ(selectServerIndex(nullptr), 0);
    EXPECT_EQ(selectServerIndex(true), 0);
    EXPECT_EQ(selectServerIndex(nlohmann::json::array({1})), 0);
}

TEST(ArgumentConversion, NumbersOutsideTheIndexRangeNameNoEntry) {
    EXPECT_EQ(selectServerIndex(1e12), -1);
    EXPECT_EQ(selectServerIndex(-1e12), -1);
    EXPECT_EQ(selectServerIndex(std::numeric_limits<double>::quiet_NaN()), -1);
    EXPECT_EQ(selectServerIndex(std::numeric_limits<double>::infinity()), -1);
    EXPECT_EQ(selectServerIndex(std::uint64_t{1} << 40), -1);
    EXPECT_EQ(selectServerIndex(std::int64_t{-1} << 40), -1);
    EXPECT_EQ(selectServerIndex(2147483647.5), 2147483647);
}

TEST(ArgumentConversion, LaunchShortcutTakesNonNumbersAsNoShortcut) {
    EXPECT_EQ(shortcutIndex("x"), -1);
    EXPECT_EQ(shortcutIndex("0"), -1);
    EXPECT_EQ(shortcutIndex(nullptr), -1);
    EXPECT_EQ(shortcutIndex(1.7), 1);
    EXPECT_EQ(shortcutIndex(0), 0);
    EXPECT_EQ(shortcutIndex(1e20), -1);
}

TEST(ArgumentConversion, UrlMustBeANonEmptyString) {
    EXPECT_EQ(urlArgument(""), std::nullopt);
    EXPECT_EQ(urlArgument(5), std::nullopt);
    EXPECT_EQ(urlArgument("https://x.invalid/\xC3\xBC"), std::u16string(u"https://x.invalid/\u00fc"));
}

TEST(CompactJson, InvalidUtf8IsReplacedInsteadOfThrowing) {
    EXPECT_EQ(compactJson(nlohmann::json{{"k", "a\xFF"}}), "{\"k\":\"a\xEF\xBF\xBD\"}");
}

}  // namespace
}  // namespace mendly
