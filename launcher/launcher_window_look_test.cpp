// The launcher as a player sees it, on a private Xvfb display against a
// loopback patch host: the first frame, a server column longer than the
// window, the boxes and their look, the game without wine, closing during an
// install, and how quickly the page's own calls are answered while an
// install reports its progress. Screenshots go to the build folder
// (SNAPSHOT_DIR); timings are printed as "perf:" lines, never asserted.
#include <gtest/gtest.h>

#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/loopback_server.h"
#include "private_bus_testing.h"
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

// The number after `prefix` on the first line that starts with it; -1 when none.
double numberAfter(const std::string& text, const std::string& prefix) {
    const auto lines = linesStartingWith(text, prefix);
    if (lines.empty()) return -1;
    try {
        return std::stod(lines[0].substr(prefix.size()));
    } catch (const std::exception&) {
        return -1;
    }
}

const std::string kUntil = std::string(test::kPageUntil) +
    "const text = (s) => document.querySelector(s).textContent;\n";

std::string serverJson(const std::string& name, const std::string& desc, const std::string& url) {
    return R"({"name":")" + name + R"(","desc":")" + desc + R"(","server":"aurum","patchBaseUrl":")" + url +
           R"(","launchExecutable":"Kaltris.exe"})";
}

class LauncherWindowLook : public test::DisplaySuite {
protected:
    void SetUp() override {
        fs::copy_file(LAUNCHER_EMPTY_CATALOG_EXE, folder / "launcher");
        fs::create_directories(bin);
        fs::create_directories(shots);
    }

    void publish(int files, std::size_t size) {
        hostFiles.addFile("Kaltris.exe", "MZ stand-in client");
        hostFiles.addFile("_version._", "2.5.1");
        for (int i = 0; i < files; ++i)
            hostFiles.addFile("data/part" + std::to_string(i) + ".bin",
                              std::string(size + i, static_cast<char>('a' + i % 26)));
        hostFiles.publish();
        server.serveFolder(served.path());
    }

    void writeCatalog(int servers) {
        std::string list;
        for (int i = 0; i < servers; ++i)
            list += (i ? "," : "") + serverJson(i == 0 ? "loop" : "loop" + std::to_string(i),
                                                 "Loopback " + std::to_string(i), server.baseUrl());
        test::writeFile(folder / "customlist.json", R"({"servers":[)" + list + "]}");
    }

    fs::path installFolder() const { return folder / "clients" / "loop"; }
    void installLocally() {
        for (const auto& file : hostFiles.files()) test::writeFile(installFolder() / file.relative, file.served);
    }

    // The launcher with `steps`; PATH holds only `bin` (no wine unless a test puts one there).
    test::ProcessResult run(const std::string& steps, std::vector<std::string> extra = {},
                            std::vector<std::pair<std::string, std::string>> env = {}) {
        const fs::path script = folder / "steps.js";
        test::writeFile(script, steps);
        test::ProcessOptions options;
        options.args = {"--skip-self-update", "--test-script", script.string()};
        options.args.insert(options.args.end(), extra.begin(), extra.end());
        options.env = {{"DISPLAY", display->name()}, {"GDK_BACKEND", "x11"}, {"PATH", bin.string()},
                       {"DBUS_SESSION_BUS_ADDRESS", ""}};
        options.env.insert(options.env.end(), env.begin(), env.end());
        options.workingDirectory = folder.path();
        options.timeLimit = std::chrono::seconds(150);
        return test::runProcess(folder / "launcher", options);
    }

    static fs::path snapshot(const std::string& name) { return fs::path(SNAPSHOT_DIR) / name; }

    test::TempDir folder{"launcher_look"};
    test::TempDir served{"launcher_look_host"};
    fs::path bin = folder / "bin";
    fs::path shots = folder / "shots";
    test::PatchHostFolder hostFiles{served.path(), "aurum"};
    test::LoopbackServer server;
};


TEST_F(LauncherWindowLook, TheFirstFrameIsAlreadyDarkAndTheTilesFollow) {
    publish(1, 100);
    writeCatalog(2);
    fs::remove(snapshot("launcher_startup_frame.png"));
    const test::ProcessResult r =
        run("return document.querySelectorAll('#server-list .server-tile').length;\n",
            {"--test-startup-frame", snapshot("launcher_startup_frame.png").string()});
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(linesStartingWith(r.out, "step "), std::vector<std::string>{"step 1: 2"}) << r.out << r.err;
    // The page's background is #060a08 (luminance about 9); the light grey of
    // an unstyled window is above 200.
    const double luminance = numberAfter(r.out, "test: startup-frame-luminance ");
    EXPECT_GE(luminance, 0) << r.out;
    EXPECT_LT(luminance, 40) << r.out;
    const double tiles = numberAfter(r.out, "test: tiles-frame-ms ");
    EXPECT_GT(tiles, 0) << r.out;
    // The frame that showed the tiles was drawn before the measuring's own
    // waits ended.
    const double drawn = numberAfter(r.out, "test: tiles-drawn-ms ");
    EXPECT_GT(drawn, 0) << r.out;
    EXPECT_LE(drawn, tiles) << r.out;
    std::printf("perf: first-frame-ms %.0f tiles-frame-ms %.0f tiles-drawn-ms %.0f\n",
                numberAfter(r.out, "test: first-frame-ms "), tiles, drawn);
}

TEST_F(LauncherWindowLook, EightServersScrollAndADuplicateAtTheEndIsSelectedInView) {
    publish(1, 100);
    writeCatalog(7);
    installLocally();
    fs::remove(snapshot("launcher_eight_servers.png"));
    const std::string inView =
        "(() => { const l = document.querySelector('#server-list').getBoundingClientRect();"
        " const t = document.querySelector('.server-tile.selected').getBoundingClientRect();"
        " return [Number(document.querySelector('.server-tile.selected').dataset.index),"
        " t.top >= l.top - 0.5 && t.bottom <= l.bottom + 0.5,"
        " document.querySelector('#server-list').scrollTop > 0]; })()";
    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption') === 'Launch');
await xcall('duplicateInstallation');
await until(() => document.querySelectorAll('#server-list .server-tile').length === 8 &&
                  document.querySelector('.server-tile.selected')?.dataset.index === '7');
await new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)));
return )JS" + inView + R"JS(;
---
#snapshot )JS" + snapshot("launcher_eight_servers.png").string() + "\n";
    const test::ProcessResult r = run(steps, {"--test-duplicate-names", "copy", "--test-answer-dialogs"});
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(linesStartingWith(r.out, "step "),
              (std::vector<std::string>{"step 1: [7,true,true]", "step 2: snapshot written"}))
        << r.out << r.err;
}

TEST_F(LauncherWindowLook, WithoutWinePlayAndConfigureShowADarkWarningThatSaysSo) {
    publish(1, 100);
    writeCatalog(1);
    installLocally();
    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption') === 'Launch');
let sawBusy = false;
const footer = window.updateLauncherFooter;
window.updateLauncherFooter = (json) => { sawBusy = sawBusy || JSON.parse(json).busy; footer(json); };
document.querySelector('#btn-play').click();
const ended = await until(() => sawBusy && text('#btn-play-caption') === 'Launch');
await xcall('configure');
return ended;
)JS";
    const test::ProcessResult r = run(steps, {"--test-show-dialogs", shots.string()});
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(linesStartingWith(r.out, "step "), std::vector<std::string>{"step 1: true"}) << r.out << r.err;
    const auto boxes = linesStartingWith(r.err, "shown box: ");
    ASSERT_EQ(boxes.size(), 2u) << r.err;
    const std::vector<std::string> captions = {"Play", "Configure"};
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const std::string head = "shown box: " + captions[i] + " | icon dialog-warning | dark 1 | luminance ";
        ASSERT_EQ(boxes[i].rfind(head, 0), 0u) << boxes[i];
        // The dark theme's box: mostly dark pixels (a light one is above 200).
        EXPECT_LT(std::stod(boxes[i].substr(head.size())), 110) << boxes[i];
    }
    const std::string exe = (installFolder() / "Kaltris.exe").string();
    const auto log = test::logMessages(folder.path());
    EXPECT_NE(std::find(log.begin(), log.end(), "ERROR: Launch failed: " + exe + " \u2014 wine is not installed"),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "ERROR: Sysconfig launch failed: " + exe + " \u2014 wine is not installed"),
              log.end());
    fs::copy_file(shots / "box-1.png", snapshot("launcher_warning_box.png"), fs::copy_options::overwrite_existing);
}

TEST_F(LauncherWindowLook, ABoxOverTheDuplicatePromptIsDarkAndShowsTheInformationIcon) {
    publish(1, 100);
    writeCatalog(1);
    installLocally();
    // An empty name: the prompt answers with an information box and stays
    // open; then it is cancelled.
    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption') === 'Launch');
await xcall('duplicateInstallation');
return document.querySelectorAll('#server-list .server-tile').length;
)JS";
    const test::ProcessResult r = run(steps, {"--test-show-dialogs", shots.string(), "--test-duplicate-names", ""});
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(linesStartingWith(r.out, "step "), std::vector<std::string>{"step 1: 1"}) << r.out << r.err;
    const auto boxes = linesStartingWith(r.err, "shown box: ");
    ASSERT_EQ(boxes.size(), 1u) << r.err;
    const std::string head = "shown box: Duplicate | icon dialog-information | dark 1 | luminance ";
    ASSERT_EQ(boxes[0].rfind(head, 0), 0u) << boxes[0];
    EXPECT_LT(std::stod(boxes[0].substr(head.size())), 110) << boxes[0];
}

using testing_bus::PrivateBus;

struct EntryUpdates {
    std::vector<bool> visible;
    std::vector<std::string> apps;
};

void onLauncherEntryUpdate(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                           GVariant* parameters, gpointer data) {
    const gchar* app = nullptr;
    GVariant* properties = nullptr;
    g_variant_get(parameters, "(&s@a{sv})", &app, &properties);
    gboolean visible = FALSE;
    g_variant_lookup(properties, "progress-visible", "b", &visible);
    auto* updates = static_cast<EntryUpdates*>(data);
    updates->visible.push_back(visible != FALSE);
    updates->apps.emplace_back(app);
    g_variant_unref(properties);
}

TEST_F(LauncherWindowLook, ClosingTheWindowDuringAnInstallCancelsItAndTurnsTheTaskBarProgressOff) {
    publish(4, 40000);
    server.streamBody(hostFiles.fileUrlPath("data/part2.bin"), 256, std::chrono::milliseconds(100), 40002);
    writeCatalog(1);
    PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    GError* error = nullptr;
    GDBusConnection* listener = g_dbus_connection_new_for_address_sync(
        bus.address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    ASSERT_NE(listener, nullptr) << (error ? error->message : "");
    EntryUpdates updates;
    const std::vector<bool>& visible = updates.visible;
    const guint subscription =
        g_dbus_connection_signal_subscribe(listener, nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &onLauncherEntryUpdate, &updates, nullptr);
    GVariant* ping = g_dbus_connection_call_sync(listener, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                 "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                 G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (ping) g_variant_unref(ping);

    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption') === 'Install' && !document.querySelector('#btn-play').disabled);
document.querySelector('#btn-play').click();
const downloading = await until(() => text('#task-status-label').startsWith('Downloading files'));
document.querySelector('#btn-close').click();
await new Promise(() => {});  // the window closes under this step
)JS";
    const test::ProcessResult r = run(steps, {}, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto log = test::logMessages(folder.path());
    EXPECT_NE(std::find(log.begin(), log.end(), "Patch cancelled: the window was closed"), log.end());
    EXPECT_EQ(log.back(), "launcher exiting");

    // The launcher has ended; its signals wait in the listener's queue. The
    // last word is "no progress shown".
    GSource* deadline = g_timeout_source_new_seconds(10);
    g_source_set_callback(deadline, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(deadline, nullptr);
    while ((visible.empty() || visible.back()) && !g_source_is_destroyed(deadline))
        g_main_context_iteration(nullptr, TRUE);
    g_source_destroy(deadline);
    g_source_unref(deadline);
    ASSERT_GE(visible.size(), 2u);
    EXPECT_TRUE(visible.front());
    EXPECT_FALSE(visible.back());
    // About the launcher's own desktop entry, the one its menu item installs.
    EXPECT_EQ(updates.apps.back(), "application://net.kaltris.NexumLauncher.desktop");
    g_dbus_connection_signal_unsubscribe(listener, subscription);
    g_object_unref(listener);
}

// Not a speed test: prints the page's round trips to native code and the
// rate of footer pushes during an install of many small files, and checks
// only that the pushes are paced and the last state arrives.
TEST_F(LauncherWindowLook, DuringAnInstallFooterPushesArePacedAndThePageIsAnsweredPromptly) {
    // About 150 files a second: 16 transfers at a time, each answered 100 ms late.
    publish(600, 2000);
    server.setAnswerDelay(std::chrono::milliseconds(100));
    writeCatalog(1);
    fs::remove(snapshot("launcher_install_in_progress.png"));
    const std::string measure = R"JS(
const roundTrips = async (n) => { const t = []; for (let i = 0; i < n; i++) { const s = performance.now();
  await xcall('getPlayButtonLabel'); t.push(performance.now() - s); } return t; };
const pct = (t, p) => { const s = [...t].sort((a, b) => a - b); return s[Math.min(s.length - 1, Math.floor(p * s.length))]; };
)JS";
    const std::string steps = std::string(kUntil) + measure + R"JS(
await until(() => text('#btn-play-caption') === 'Install' && !document.querySelector('#btn-play').disabled);
const idle = await roundTrips(200);
window.__pushes = [];
window.__mismatch = 0;
const original = window.updateLauncherFooter;
window.updateLauncherFooter = (json) => {
  original(json);
  window.__pushes.push(performance.now());
  const fill = parseFloat(document.querySelector('#patch-progress-fill').style.width);
  const count = text('#task-status-count');
  if (count && parseFloat(count) !== fill) window.__mismatch++;
};
document.querySelector('#btn-play').click();
window.__idle = [pct(idle, 0.5), pct(idle, 0.95)];
return await until(() => text('#btn-play-caption') === 'Installing...');
---
)JS" + kUntil + R"JS(
return await until(() => document.querySelector('#patch-progress').classList.contains('visible') &&
                         parseFloat(document.querySelector('#patch-progress-fill').style.width) > 0);
---
#snapshot )JS" + snapshot("launcher_install_in_progress.png").string() + "\n---\n" + kUntil + measure + R"JS(
const busy = [];
while (text('#btn-play-caption') !== 'Install' && text('#btn-play-caption') !== 'Launch') busy.push(...await roundTrips(10));
await until(() => text('#btn-play-caption') === 'Launch');
await new Promise(r => setTimeout(r, 300));
const p = window.__pushes;
let most = 0;
for (let i = 0, j = 0; i < p.length; i++) { while (p[i] - p[j] >= 1000) j++; most = Math.max(most, i - j + 1); }
const seconds = p.length > 1 ? (p[p.length - 1] - p[0]) / 1000 : 0;
return {idle: window.__idle.map(Math.round), busy: [pct(busy, 0.5), pct(busy, 0.95)].map(Math.round), samples: busy.length,
        pushes: p.length, seconds: Math.round(seconds * 10) / 10, mostInOneSecond: most, mismatch: window.__mismatch,
        lastStatus: text('#task-status-label'), progressShown: document.querySelector('#patch-progress').classList.contains('visible')};
)JS";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    const auto lines = linesStartingWith(r.out, "step ");
    ASSERT_EQ(lines.size(), 4u) << r.out << r.err;
    EXPECT_EQ(lines[0], "step 1: true");
    EXPECT_EQ(lines[1], "step 2: true");
    const nlohmann::json result = nlohmann::json::parse(lines[3].substr(std::string("step 4: ").size()), nullptr, false);
    ASSERT_TRUE(result.is_object()) << lines[3];
    std::printf("perf: %s\n", result.dump().c_str());
    // Paced to ten a second: over the whole run (arrival in the page may
    // bunch two pushes that were sent 100 ms apart, so no single second is
    // held to it; the page asks for one itself at the end of a task).
    EXPECT_LE(result["pushes"].get<double>(), 10 * result["seconds"].get<double>() + 3) << result.dump();
    EXPECT_EQ(result["mismatch"], 0) << result.dump();
    // The last state arrived: idle, no bar.
    EXPECT_EQ(result["lastStatus"], "");
    EXPECT_EQ(result["progressShown"], false);
}

}  // namespace
}  // namespace mendly
