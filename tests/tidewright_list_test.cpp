// tidewright without arguments against a patch host on loopback: one entry per
// installation status, with the version column and the header padding; and
// an interrupted install, listed as such and carried on by --update-all.
#include <gtest/gtest.h>

#include "patch/staging_area.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

TEST(TidewrightList, ShowsEveryStatusWithItsVersion) {
    test::TempDir program{"tw-list"};
    fs::copy_file(TIDEWRIGHT_EXE, program / "tidewright");
    test::LoopbackServer host;
    host.respond("/current/_version._", 200, "\xEF\xBB\xBFKaltris Nexum-2.5.9\r\n");
    host.respond("/newer/_version._", 200, "Kaltris Nexum-2.6.0\n");
    const std::string down = "http://127.0.0.1:1";  // nothing listens on port 1

    auto entry = [&](const std::string& name, const std::string& server, const std::string& base,
                     const std::string& desc) {
        return "{\"name\":\"" + name + "\",\"desc\":\"" + desc + "\",\"server\":\"" + server +
               "\",\"patchBaseUrl\":\"" + base + "\",\"launchExecutable\":\"kaltrisclient.exe\"}";
    };
    test::writeFile(program / "customlist.json",
                    "{\"servers\":[" + entry("uptodate", "current", host.baseUrl(), "Current build") + "," +
                        entry("outdated", "newer", host.baseUrl(), "") + "," +
                        entry("offline", "current", down, "Host is down") + "," +
                        entry("missing", "current", host.baseUrl(), "Never installed") + "]}");
    for (const char* name : {"uptodate", "outdated", "offline"}) {
        test::writeFile(program / "clients" / name / "kaltrisclient.exe", "x");
        test::writeFile(program / "clients" / name / "_version._", "Kaltris Nexum-2.5.9");
    }

    const auto r = test::runProcess(program / "tidewright", {{"--skip-self-update"}, {}, program.path()});
    EXPECT_EQ(r.exitCode, 0);
    const std::string expected =
        "Name      Status         Version  Description\n"
        "retail    Not Installed           Kaltris Nexum 2.5\n"
        "pts       Not Installed           Kaltris Nexum 2.5 - Public Test Server\n"
        "uptodate  Up To Date     2.5.9    Current build\n"
        "outdated  Out of Date    2.5.9    outdated\n"
        "offline   Unknown        2.5.9    Host is down\n"
        "missing   Not Installed           Never installed\n";
    EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);  // no colours into a pipe
    const std::string log = test::readFile(program / "launcher.log");
    EXPECT_NE(log.find("ERROR: http://127.0.0.1:1/current/_version._ \xE2\x80\x94 Could not connect to the server."),
              std::string::npos)
        << log;
    // The version is fetched only for installed entries, one request each.
    EXPECT_EQ(host.requestCount("/current/_version._"), 1u);
    EXPECT_EQ(host.requestCount("/newer/_version._"), 1u);
}

TEST(TidewrightList, EntriesThatLeadOutOfTheirFoldersAreLeftOutAndNamedInTheLog) {
    test::TempDir program{"tw-list-hostile"};
    fs::copy_file(TIDEWRIGHT_EXE, program / "tidewright");
    test::writeFile(program / "customlist.json",
                    "{\"servers\":[{\"name\":\"../../dotdot\",\"server\":\"s\",\"patchBaseUrl\":\"http://127.0.0.1:1\"},"
                    "{\"name\":\"evil\",\"server\":\"s\",\"patchBaseUrl\":\"http://127.0.0.1:1\","
                    "\"launchExecutable\":\"../../outside/evil.exe\"},"
                    "{\"name\":\"friends\",\"server\":\"s\",\"patchBaseUrl\":\"http://127.0.0.1:1\"}]}");
    const auto r = test::runProcess(program / "tidewright", {{"--skip-self-update"}, {}, program.path()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("friends "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("dotdot"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("evil"), std::string::npos) << r.out;
    const std::string log = test::readFile(program / "launcher.log");
    EXPECT_NE(log.find("WARNING: Catalog entry \"../../dotdot\" left out: its name leads out of the clients folder"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("WARNING: Catalog entry \"evil\" left out: its launchExecutable leads out of its installation"),
              std::string::npos)
        << log;
    // Updating it is no longer possible either: it is not in the catalog.
    const auto update = test::runProcess(program / "tidewright",
                                         {{"--update-single", "evil", "--skip-self-update"}, {}, program.path()});
    EXPECT_NE(update.exitCode, 0);
    EXPECT_FALSE(fs::exists(program.path().parent_path() / "dotdot"));
}

// What an interrupted install leaves behind: files the host served, staged
// under their manifest digests, and no client in place yet.
TEST(TidewrightList, AnInterruptedInstallIsListedAsPartlyDownloadedAndResumedByUpdateAll) {
    test::TempDir program{"tw-list-resume"};
    fs::copy_file(TIDEWRIGHT_EXE, program / "tidewright");
    test::TempDir hostRoot{"tw-list-host"};
    test::LoopbackServer host;
    host.serveFolder(hostRoot.path());
    test::PatchHostFolder ember{hostRoot.path(), "ember"};
    ember.addFile("kaltrisclient.exe", "client executable");
    ember.addFile("_version._", "Kaltris Nexum-2.5.9");
    ember.addFile("data/big.bin", std::string((3u << 20) + 4096, 'b'));
    ember.addFile("data/small.txt", "small");
    ember.publish();
    test::writeFile(program / "customlist.json",
                    "{\"servers\":[{\"name\":\"ember\",\"server\":\"ember\",\"patchBaseUrl\":\"" + host.baseUrl() +
                        "\",\"launchExecutable\":\"kaltrisclient.exe\"},{\"name\":\"idle\",\"server\":\"ember\","
                        "\"patchBaseUrl\":\"" + host.baseUrl() + "\",\"launchExecutable\":\"kaltrisclient.exe\"}]}");
    const fs::path client = program / "clients" / "ember";
    const StagingArea staging(client);
    for (const char* relative : {"data/big.bin", "kaltrisclient.exe"}) {
        const auto& file = ember.file(relative);
        test::writeFile(staging.pathFor(StagingArea::nameFor({file.relative, file.md5}, StagedForm::AsServed)),
                        file.served);
    }
    test::writeFile(staging.pathFor("unfinished.part"), std::string(5u << 20, 'p'));  // never reused

    const auto list = test::runProcess(program / "tidewright", {{"--skip-self-update"}, {}, program.path()});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_NE(list.out.find("Name    Status                    Version  Description\n"
                            "retail  Not Installed                      Kaltris Nexum 2.5\n"
                            "pts     Not Installed                      Kaltris Nexum 2.5 - Public Test Server\n"
                            "ember   Partly downloaded (3 MB)           ember\n"
                            "idle    Not Installed                      idle\n"),
              std::string::npos)
        << list.out;
    EXPECT_EQ(host.totalRequests(), 0u);  // nothing installed: no version asked for

    const auto update =
        test::runProcess(program / "tidewright", {{"--update-all", "--skip-self-update"}, {}, program.path(),
                                                  std::chrono::seconds(60)});
    EXPECT_EQ(update.exitCode, 0) << update.out;
    EXPECT_NE(update.out.find("Installing ember\n"), std::string::npos) << update.out;
    EXPECT_NE(update.out.find("Skipping idle (not installed).\n"), std::string::npos) << update.out;
    EXPECT_NE(update.out.find("Updated 1, skipped 3, failed 0.\n"), std::string::npos) << update.out;
    // What was staged is used, not fetched again.
    EXPECT_EQ(host.requestCount("/ember/data/big.bin"), 0u);
    EXPECT_EQ(host.requestCount("/ember/kaltrisclient.exe"), 0u);
    EXPECT_EQ(host.requestCount("/ember/data/small.txt"), 1u);
    EXPECT_TRUE(test::readFile(client / "data" / "big.bin") == ember.file("data/big.bin").served);
    EXPECT_EQ(test::readFile(client / "data" / "small.txt"), "small");
}

}  // namespace
}  // namespace mendly
