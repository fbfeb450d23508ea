// Sizes, interrupted installs and adding a server, through the real launcher
// window on a private Xvfb display against loopback patch hosts: an install
// that shows its size before it starts, stopped part way and shown as Resume,
// then resumed with what it had staged; an installed client behind its server
// whose button gives the size of what changed; and Add server with a good address,
// one that does not answer and a name already in use, and with a server file
// that is one and one that is not. Screenshots are kept in
// the build folder (SNAPSHOT_DIR); docs/screenshots/ holds copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

using test::stepLines;

// Waits in the page for a condition, up to 40 s; and what the player sees.
const std::string kUntil = std::string(test::kPageUntil) +
    "const text = (s) => { const e = document.querySelector(s); return e ? e.textContent : null; };\n"
    "const visible = (s) => { const e = document.querySelector(s); return !!e && e.getClientRects().length > 0; };\n";

class LauncherWindowSizes : public test::DisplaySuite {
protected:
    void SetUp() override {
        fs::copy_file(LAUNCHER_EMPTY_CATALOG_EXE, folder / "launcher");
        hostFiles.addFile("Kaltris.exe", "MZ stand-in client");
        hostFiles.addFile("_version._", "2.5.1");
        for (int i = 0; i < 3; ++i)
            hostFiles.addFile("data/part" + std::to_string(i) + ".bin", std::string(200000, static_cast<char>('a' + i)));
        publishWithSizes();
        host.serveFolder(served.path());
        fs::create_directories(bin);
        test::writeFile(bin / "wine", "#!/bin/sh\nexit 0\n");
        fs::permissions(bin / "wine", fs::perms::owner_all);
        list = R"({"servers":[{"name":"loop","desc":"Loopback Server","server":"aurum","patchBaseUrl":")" +
               host.baseUrl() + R"(","launchExecutable":"Kaltris.exe"}]})";
        test::writeFile(folder / "customlist.json", list);
    }

    // The host's files, with a manifest that declares every file's size, as
    // the run's size lines and the button's size need.
    void publishWithSizes() {
        hostFiles.publish();
        std::string files;
        for (const auto& file : hostFiles.files())
            files += (files.empty() ? "" : ",") + std::string(R"({"md5":")") + file.md5 + R"(","relative":")" +
                     file.relative + R"(","size":)" + std::to_string(file.served.size()) + "}";
        test::writeFile(served / "aurum.manifest", R"({"files":[)" + files + "]}");
    }

    test::ProcessResult run(const std::string& steps) {
        return runScript(folder.path(), steps, bin.string() + ":/usr/bin:/bin", std::chrono::seconds(150));
    }

    test::TempDir folder{"launcher_sizes"};
    test::TempDir served{"launcher_sizes_host"};
    fs::path bin = folder / "bin";
    test::PatchHostFolder hostFiles{served.path(), "aurum"};
    test::LoopbackServer host;
    std::string list;
};

TEST_F(LauncherWindowSizes, AnInstallShowsItsSizeIsStoppedShownAsResumeAndResumedWithWhatItHad) {
    // The last file stalls half sent until the page has the host serve it.
    const std::string stalled = "/aurum/data/part2.bin";
    host.stallMidBody(stalled, std::string(1000, 'c'), 200000);
    test::LoopbackServer control;
    control.route("/serve-all", [&](const test::LoopbackRequest&, test::LoopbackReply& reply) {
        host.respond(stalled, 200, std::string(200000, 'c'));
        reply.body = "<rss></rss>";
    });
    const std::string steps = std::string(kUntil) + R"JS(
const sized = await until(() => text('#btn-play-caption').startsWith('Install - '));
return [sized, text('#btn-play-caption')];
---
#snapshot )JS" + snapshot("launcher_install_size.png") +
                              "\n---\n" + kUntil + R"JS(
document.querySelector('#btn-play').click();
const staged = await until(() => text('#task-status-count') === '80%');
document.querySelector('#btn-stop').click();
const resumable = await until(() => text('#btn-play-caption') === 'Resume' &&
                                    text('.server-tile .tile-state') !== null);
return [staged, resumable, text('.server-tile .tile-state')];
---
#snapshot )JS" + snapshot("launcher_install_resume.png") +
                              "\n---\n" + kUntil + "await xcall('fetchRssFeed', '" + control.url("/serve-all") +
                              "', 6);\n" + R"JS(
document.querySelector('#btn-play').click();
const installed = await until(() => text('#btn-play-caption') === 'Launch');
return [installed, text('.server-tile .tile-state')];
)JS";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    // 18 + 5 + 3 * 200000 bytes.
    const std::vector<std::string> expected = {R"(step 1: [true,"Install - 0.6 MB"])", "step 2: snapshot written",
                                               R"X(step 3: [true,true,"Partly downloaded (1 MB)"])X",
                                               "step 4: snapshot written", "step 5: [true,null]"};
    EXPECT_EQ(stepLines(r.out), expected) << r.out << r.err;
    for (const auto& file : hostFiles.files())
        EXPECT_EQ(test::readFile(folder / "clients" / "loop" / file.relative), file.served) << file.relative;
    // What the stopped run had staged was not fetched again.
    EXPECT_EQ(host.requestCount("/aurum/data/part0.bin"), 1u);
    EXPECT_EQ(host.requestCount(stalled), 2u);
    const auto log = test::logMessages(folder.path());
    EXPECT_NE(std::find(log.begin(), log.end(), "Reusing 0.4 MB already downloaded"), log.end());
    EXPECT_NE(std::find_if(log.begin(), log.end(), [](const std::string& line) { return line.starts_with("Fetched "); }),
              log.end());
}

TEST_F(LauncherWindowSizes, AnInstalledClientBehindItsServerReadsUpdateWithTheSizeOfWhatChangedOnly) {
    // Once installed, the host publishes a release that changes one file; the
    // page asks the hosts again as Retry does.
    test::LoopbackServer control;
    control.route("/next-release", [&](const test::LoopbackRequest&, test::LoopbackReply& reply) {
        hostFiles.addFile("_version._", "2.5.2");
        hostFiles.addFile("data/part1.bin", std::string(1200000, 'z'));
        publishWithSizes();
        reply.body = "<rss></rss>";
    });
    const std::string steps = std::string(kUntil) + R"JS(
await until(() => text('#btn-play-caption').startsWith('Install - '));
document.querySelector('#btn-play').click();
return await until(() => text('#btn-play-caption') === 'Launch');
---
)JS" + kUntil + "await xcall('fetchRssFeed', '" + control.url("/next-release") + "', 6);\n" + R"JS(
xcall('retryChecks');
const outdated = await until(() => text('#btn-play-caption').startsWith('Update - '));
return [outdated, text('#btn-play-caption'), text('#installed-version'), text('#server-version')];
---
#snapshot )JS" + snapshot("launcher_update_size.png") + "\n";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    // The new part1.bin and _version._ (1200005 bytes), not the whole release
    // (1600023): the installation's record vouches for the rest.
    const std::vector<std::string> expected = {"step 1: true", R"(step 2: [true,"Update - 1.1 MB","2.5.1","2.5.2"])",
                                               "step 3: snapshot written"};
    EXPECT_EQ(stepLines(r.out), expected) << r.out << r.err;
}

TEST_F(LauncherWindowSizes, AddServerSavesAGoodAddressAndShowsWhyABadOneOrATakenNameIsRefused) {
    const std::uint16_t nobody = test::unusedLoopbackPort();
    const auto add = [](const std::string& name, const std::string& address) {
        return "document.querySelector('#btn-add-server').click();\n"
               "document.querySelector('#add-server-name').value = '" + name + "';\n"
               "document.querySelector('#add-server-address').value = '" + address + "';\n"
               "document.querySelector('#add-server-save').click();\n";
    };
    const std::string refused =
        "await until(() => !document.querySelector('#add-server-save').disabled && "
        "text('#add-server-message') !== '' && !text('#add-server-message').startsWith('Checking'));\n"
        "const message = text('#add-server-message');\n"
        "document.querySelector('#add-server-cancel').click();\n";
    const std::string steps = std::string(kUntil) + R"JS(
return await until(() => text('#server-title') === 'Loopback Server');
---
)JS" + kUntil + add("Emberfall", host.baseUrl() + "/aurum") + R"JS(
const added = await until(() => !visible('#add-server-panel') && text('#server-title') === 'Emberfall' &&
                                !!document.querySelector('.server-tile[data-name="Emberfall"].selected'));
return [added, document.querySelectorAll('.server-tile').length];
---
)JS" + kUntil + add("Broken", "http://127.0.0.1:" + std::to_string(nobody) + "/aurum") + refused + R"JS(
return message.startsWith('Could not fetch the patch manifest from http://127.0.0.1:');
---
)JS" + kUntil + R"JS(
document.querySelector('#btn-add-server').click();
document.querySelector('#add-server-name').value = 'LOOP';
document.querySelector('#add-server-address').value = ')JS" + host.baseUrl() + R"JS(/aurum';
document.querySelector('#add-server-save').click();
await until(() => text('#add-server-message') !== '' && !text('#add-server-message').startsWith('Checking'));
return [text('#add-server-message'), visible('#add-server-panel')];
---
#snapshot )JS" + snapshot("launcher_add_server_refused.png") + "\n";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    const std::vector<std::string> expected = {
        "step 1: true", "step 2: [true,2]", "step 3: true",
        R"(step 4: ["That name is already in use. Choose a different name.",true])", "step 5: snapshot written"};
    EXPECT_EQ(stepLines(r.out), expected) << r.out << r.err;
    // The player's entry keeps every byte; only the good server was added.
    const std::string saved = test::readFile(folder / "customlist.json");
    EXPECT_EQ(saved.find(list.substr(0, list.size() - 2)), 0u) << saved;
    EXPECT_NE(saved.find("\"Emberfall\""), std::string::npos) << saved;
    EXPECT_EQ(saved.find("Broken"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("LOOP"), std::string::npos) << saved;
    EXPECT_EQ(r.err.find("message box:"), std::string::npos) << r.err;
}

TEST_F(LauncherWindowSizes, AddServerImportsAServerFileAndShowsWhyAFileThatIsNoneIsRefused) {
    const fs::path good = folder / "handed out" / "emberfall.json";
    const fs::path bad = folder / "handed out" / "notes.json";
    test::writeFile(good, R"({"name": "Emberfall", "desc": "Emberfall Main", "server": "aurum", "patchBaseUrl": ")" +
                              host.baseUrl() + R"(", "launchExecutable": "Kaltris.exe"})");
    test::writeFile(bad, R"({"servers": []})");
    const auto addFile = [](const fs::path& file) {
        return "document.querySelector('#btn-add-server').click();\n"
               "document.querySelector('#add-server-file').value = '" + file.string() + "';\n"
               "document.querySelector('#add-server-save').click();\n";
    };
    const std::string steps = std::string(kUntil) + R"JS(
return await until(() => text('#server-title') === 'Loopback Server');
---
)JS" + kUntil + addFile(bad) + R"JS(
await until(() => !document.querySelector('#add-server-save').disabled && text('#add-server-message') !== '' &&
                  !text('#add-server-message').startsWith('Checking'));
return [text('#add-server-message'), visible('#add-server-panel')];
---
#snapshot )JS" + snapshot("launcher_add_server_file_refused.png") + "\n---\n" + kUntil +
                              "document.querySelector('#add-server-cancel').click();\n" + addFile(good) + R"JS(
const added = await until(() => !visible('#add-server-panel') && text('#server-title') === 'Emberfall Main' &&
                                !!document.querySelector('.server-tile[data-name="Emberfall"].selected'));
return [added, document.querySelectorAll('.server-tile').length];
)JS";
    const test::ProcessResult r = run(steps);
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    const std::vector<std::string> expected = {
        "step 1: true",
        "step 2: [\"" + bad.string() + " is not a server file: it must hold one server with its name, server and "
                                       "patchBaseUrl.\",true]",
        "step 3: snapshot written", "step 4: [true,2]"};
    EXPECT_EQ(stepLines(r.out), expected) << r.out << r.err;
    const std::string saved = test::readFile(folder / "customlist.json");
    EXPECT_EQ(saved.find(list.substr(0, list.size() - 2)), 0u) << saved;
    EXPECT_NE(saved.find("\"Emberfall Main\""), std::string::npos) << saved;
    EXPECT_EQ(r.err.find("message box:"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace mendly
