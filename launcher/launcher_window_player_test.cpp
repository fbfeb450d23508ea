// What a player sees when things are not as they should be, through the real
// launcher window on a private Xvfb display against loopback patch hosts: a
// host that is down (in the page, on its tile, and Retry once it is back), a
// slow first start while the news site is down, an out-of-date client, and
// tiles chosen with the keyboard. Screenshots are kept in the build folder
// (SNAPSHOT_DIR); docs/screenshots/ holds copies.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
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

// Waits in the page for a condition, up to 40 s; and what the player sees.
const std::string kUntil = std::string(test::kPageUntil) +
    "const text = (s) => document.querySelector(s).textContent;\n"
    "const visible = (s) => { const e = document.querySelector(s); return !!e && e.getClientRects().length > 0; };\n"
    "const green = (s) => getComputedStyle(document.querySelector(s)).color === 'rgb(109, 255, 170)';\n";

std::string serverJson(const std::string& name, const std::string& desc, const std::string& url) {
    return R"({"name":")" + name + R"(","desc":")" + desc + R"(","server":"aurum","patchBaseUrl":")" + url +
           R"(","launchExecutable":"Kaltris.exe"})";
}

class LauncherWindowPlayer : public test::DisplaySuite {
protected:
    void SetUp() override {
        fs::copy_file(LAUNCHER_EMPTY_CATALOG_EXE, folder / "launcher");
        hostFiles.addFile("Kaltris.exe", "MZ stand-in client");
        hostFiles.addFile("_version._", "2.5.1");
        for (int i = 0; i < 3; ++i)
            hostFiles.addFile("data/part" + std::to_string(i) + ".bin", std::string(30000 + i, static_cast<char>('a' + i)));
        hostFiles.publish();
        // The stand-in for wine records every start of the game.
        fs::create_directories(bin);
        test::writeFile(bin / "wine", "#!/bin/sh\necho \"$*\" >> \"" + (folder / "game-started.txt").string() + "\"\n");
        fs::permissions(bin / "wine", fs::perms::owner_all);
    }

    void writeCatalog(const std::vector<std::string>& servers) {
        std::string list;
        for (const auto& server : servers) list += (list.empty() ? "" : ",") + server;
        test::writeFile(folder / "customlist.json", R"({"servers":[)" + list + "]}");
    }

    fs::path installFolder(const std::string& name = "loop") const { return folder / "clients" / name; }
    void installLocally(const std::string& version) {
        for (const auto& file : hostFiles.files()) test::writeFile(installFolder() / file.relative, file.served);
        test::writeFile(installFolder() / "_version._", version);
    }

    test::ProcessResult run(const std::string& steps) {
        return runScript(folder.path(), steps, bin.string() + ":/usr/bin:/bin", std::chrono::seconds(150));
    }

    test::TempDir folder{"launcher_player"};
    test::TempDir served{"launcher_player_host"};
    fs::path bin = folder / "bin";
    test::PatchHostFolder hostFiles{served.path(), "aurum"};
};


TEST_F(LauncherWindowPlayer, AHostThatIsDownIsShownInThePageAndOnItsTileAndRetryFindsItBack) {
    // Nothing listens on the host's port until the page asks the control
    // server to bring it up.
    const std::uint16_t port = test::unusedLoopbackPort();
    std::mutex hostMutex;
    std::unique_ptr<test::LoopbackServer> host;
    test::LoopbackServer control;
    control.route("/host-back", [&](const test::LoopbackRequest&, test::LoopbackReply& reply) {
        const std::lock_guard<std::mutex> lock(hostMutex);
        host = std::make_unique<test::LoopbackServer>(test::LoopbackServer::Scheme::Http,
                                                      test::LoopbackServer::KeepAlive::Off, port);
        host->serveFolder(served.path());
        reply.body = "<rss></rss>";
    });
    writeCatalog({serverJson("loop", "Loopback Server", "http://127.0.0.1:" + std::to_string(port))});

    const std::string steps = std::string(kUntil) + R"JS(
const marked = await until(() => visible('#entry-problem') && document.querySelector('.server-tile .tile-problem'));
return [marked, text('#entry-problem-caption'), text('#entry-problem-detail').includes('(error 7)'),
        text('.server-tile .tile-problem'), text('#server-version'), green('#server-version'),
        document.querySelector('#btn-play').disabled];
---
#snapshot )JS" + snapshot("launcher_host_down.png") +
                              "\n---\n" + kUntil + "await xcall('fetchRssFeed', '" + control.url("/host-back") +
                              "', 6);\n" + R"JS(
document.querySelector('#btn-retry').click();
const back = await until(() => text('#server-version') === '2.5.1' && !visible('#entry-problem') &&
                               !document.querySelector('.tile-problem') && !document.querySelector('#btn-play').disabled);
const greenAgain = green('#server-version');
document.querySelector('#btn-play').click();
const installed = await until(() => text('#btn-play-caption') === 'Launch');
return [back, greenAgain, installed];
---
#snapshot )JS" + snapshot("launcher_host_back.png") + "\n";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    const std::vector<std::string> expected = {
        R"(step 1: [true,"Server unreachable",true,"Server unreachable","Unavailable",false,true])",
        "step 2: snapshot written", "step 3: [true,true,true]", "step 4: snapshot written"};
    EXPECT_EQ(linesStartingWith(r.out, "step "), expected) << r.out << r.err;
    // The page said it all: no message box.
    EXPECT_TRUE(linesStartingWith(r.err, "message box:").empty()) << r.err;
    EXPECT_EQ(test::readFile(installFolder() / "_version._"), "2.5.1");
}

TEST_F(LauncherWindowPlayer, ASlowFirstStartWhileTheNewsSiteIsDownShowsNoRedText) {
    // The news site is the build's deployment address, which resolves to
    // nothing; the patch host answers everything late.
    test::LoopbackServer host;
    host.serveFolder(served.path());
    host.setAnswerDelay(std::chrono::milliseconds(2500));
    writeCatalog({serverJson("loop", "Loopback Server", host.baseUrl())});
    const std::string steps = std::string(kUntil) + R"JS(
const loading = text('#server-version') === 'Loading…' ? !green('#server-version') : 'not seen';
const settled = await until(() => text('#rss-announcements') === 'News unavailable' &&
                                  text('#rss-news') === 'News unavailable' && text('#server-version') === '2.5.1');
const reddish = Array.from(document.querySelectorAll('body *')).filter((e) => {
  if (!e.getClientRects().length || !e.textContent.trim()) return false;
  const [r, g, b] = getComputedStyle(e).color.match(/\d+/g).map(Number);
  return r > 170 && g < 150 && b < 150;
}).map((e) => e.id || e.className);
return [settled, loading, reddish, document.querySelectorAll('.rss-error').length, visible('#entry-problem')];
---
#snapshot )JS" + snapshot("launcher_slow_start_news_down.png") + "\n";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    const auto lines = linesStartingWith(r.out, "step ");
    ASSERT_EQ(lines.size(), 2u) << r.out << r.err;
    // "Loading…" is seen only when the first step comes before the answer;
    // when it is, it is not green.
    EXPECT_TRUE(lines[0] == R"(step 1: [true,true,[],0,false])" || lines[0] == R"(step 1: [true,"not seen",[],0,false])")
        << lines[0] << r.err;
    EXPECT_TRUE(linesStartingWith(r.err, "message box:").empty()) << r.err;
}

TEST_F(LauncherWindowPlayer, AnOutOfDateClientReadsUpdateWithBothVersionsAndUpdatesWithoutStartingTheGame) {
    test::LoopbackServer host;
    host.serveFolder(served.path());
    writeCatalog({serverJson("loop", "Loopback Server", host.baseUrl())});
    installLocally("2.5.0");
    test::writeFile(installFolder() / "data" / "part1.bin", "stale");
    const std::string steps = std::string(kUntil) + R"JS(
const outdated = await until(() => text('#btn-play-caption') === 'Update' && text('#installed-version') === '2.5.0' &&
                                   text('#server-version') === '2.5.1');
return [outdated, text('#installed-version-label'), !!document.querySelector('.server-tile .tile-status.outdated')];
---
#snapshot )JS" + snapshot("launcher_update_available.png") + "\n---\n" + kUntil + R"JS(
let sawPatching = false;
const footer = window.updateLauncherFooter;
window.updateLauncherFooter = (json) => { footer(json); sawPatching = sawPatching || text('#btn-play-caption') === 'Patching...'; };
document.querySelector('#btn-play').click();
const done = await until(() => sawPatching && text('#btn-play-caption') === 'Launch' && text('#installed-version') === '2.5.1');
return [done, !!document.querySelector('.server-tile .tile-status.current')];
)JS";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    const std::vector<std::string> expected = {R"(step 1: [true,"Installed:",true])", "step 2: snapshot written",
                                               "step 3: [true,true]"};
    EXPECT_EQ(linesStartingWith(r.out, "step "), expected) << r.out << r.err;
    for (const auto& file : hostFiles.files())
        EXPECT_EQ(test::readFile(installFolder() / file.relative), file.served) << file.relative;
    // Update only updates: the game was not started.
    EXPECT_FALSE(fs::exists(folder / "game-started.txt"));
    const auto log = test::logMessages(folder.path());
    EXPECT_NE(std::find(log.begin(), log.end(), "--- Update ---"), log.end());
}

TEST_F(LauncherWindowPlayer, TilesAreReachedWithTabAndChosenWithEnterOrSpaceShowingTheirFocus) {
    test::LoopbackServer host;
    host.serveFolder(served.path());
    writeCatalog({serverJson("loop", "Loopback One", host.baseUrl()), serverJson("loop2", "Loopback Two", host.baseUrl()),
                  serverJson("loop3", "Loopback Three", host.baseUrl())});
    // From the page's start, Tab goes through the title bar's three buttons
    // to the first tile, then to the second.
    const std::string focused = "document.activeElement && document.activeElement.dataset ? "
                                "document.activeElement.dataset.index : undefined";
    const std::string steps = std::string(kUntil) + R"JS(
return await until(() => text('#server-title') === 'Loopback One' && text('#server-version') === '2.5.1');
---
#keys Tab Tab Tab Tab Tab
---
)JS" + kUntil + "const at = await until(() => (" + focused + R"JS() === '1');
const ring = getComputedStyle(document.activeElement);
return [at, ring.outlineStyle, ring.outlineWidth, ring.outlineColor];
---
#snapshot )JS" + snapshot("launcher_keyboard_focus.png") + R"JS(
---
#keys Return
---
)JS" + kUntil + R"JS(
return await until(() => text('#server-title') === 'Loopback Two' &&
                         document.querySelector('.server-tile[data-index="1"]').classList.contains('selected'));
---
#keys Down space
---
)JS" + kUntil + R"JS(
const third = await until(() => text('#server-title') === 'Loopback Three');
return [third, )JS" + focused + R"JS(, document.querySelector('.server-tile.selected').getAttribute('aria-selected')];
)JS";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    const std::vector<std::string> expected = {
        "step 1: true",          "step 2: keys sent", R"X(step 3: [true,"solid","2px","rgb(109, 255, 170)"])X",
        "step 4: snapshot written", "step 5: keys sent", "step 6: true", "step 7: keys sent",
        R"(step 8: [true,"2","true"])"};
    EXPECT_EQ(linesStartingWith(r.out, "step "), expected) << r.out << r.err;
}

}  // namespace
}  // namespace mendly
