// The cross-built tidewright.exe and keelswap.exe run under Wine against the
// loopback patch and update hosts of the Linux tests: the same commands, and
// the same output, exit codes and files as the Linux programs give.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <thread>

#include "hash/digest.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"
#include "wine_program.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class WineTidewright : public ::testing::Test {
protected:
    void SetUp() override {
        test::useWinePrefix();
        fs::copy_file(test::windowsProgram("tidewright.exe"), program / "tidewright.exe");
        host.serveFolder(hostRoot.path());
        demo.addFile("kaltrisclient.exe", "client executable");
        demo.addFile("_version._", "Kaltris Nexum-2.5.1\r\n");
        demo.addFile("data/readme.txt", "hello");
        demo.addFile("ini/user.ini", "[user]\nname=x\n");
        demo.addFile("worlds/map1.dat", std::string(5000, 'm'));
        demo.addFile("worlds/sub/map2.dat", "second map");
        demo.publish();
    }

    std::string entry(const std::string& name, const std::string& server, const std::string& base,
                      const std::string& desc = "") const {
        return "{\"name\":\"" + name + "\",\"desc\":\"" + desc + "\",\"server\":\"" + server +
               "\",\"patchBaseUrl\":\"" + base + "\",\"launchExecutable\":\"kaltrisclient.exe\"}";
    }
    void writeCustomList(const std::string& entries) {
        test::writeFile(program / "customlist.json", "{\"servers\":[" + entries + "]}");
    }
    test::ProcessResult run(std::vector<std::string> args) {
        args.push_back("--skip-self-update");
        return test::runUnderWine(program / "tidewright.exe", std::move(args), program.path());
    }
    std::string log() { return test::readFile(program / "launcher.log"); }

    test::TempDir program{"wine-tw"};
    test::TempDir hostRoot{"wine-host"};
    test::LoopbackServer host;
    test::PatchHostFolder demo{hostRoot.path(), "demo"};
};

TEST_F(WineTidewright, HelpPrintsTheBannerAndUsage) {
    const auto r = test::runUnderWine(program / "tidewright.exe", {"--help"}, program.path());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Kaltris CLI Updater by the Kaltris Support Team\n\nUsage:\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("  tidewright --duplicate <name> <new-name>\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << "line ends are written as given";
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "no colours into a pipe";
}

TEST_F(WineTidewright, InstallThenAnUpdateFetchesOnlyTheChangedFile) {
    writeCustomList(entry("demo", "demo", host.baseUrl()));
    auto r = run({"--update-single", "DEMO"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Installing demo\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Finished demo.\nUpdated 1, skipped 0, failed 0.\n"), std::string::npos) << r.out;
    const fs::path client = program / "clients" / "demo";
    EXPECT_EQ(test::readFile(client / "data" / "readme.txt"), "hello");
    EXPECT_EQ(test::readFile(client / "ini" / "user.ini"), "[user]\nname=x\n");
    EXPECT_TRUE(fs::exists(client / "worlds.pak"));
    EXPECT_FALSE(fs::exists(client / ".mendly-staging"));
    EXPECT_NE(log().find("--- CLI install ---\n"), std::string::npos);

    test::writeFile(client / "data" / "readme.txt", "changed by hand");
    const auto before = host.totalRequests();
    r = run({"--update-single", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("  Verify done: 1 file(s) need patching\n"), std::string::npos) << r.out;
    EXPECT_EQ(host.totalRequests() - before, 2u);  // the manifest and the one changed file
    EXPECT_EQ(test::readFile(client / "data" / "readme.txt"), "hello");
    EXPECT_NE(log().find("--- CLI update ---\n"), std::string::npos);
}

TEST_F(WineTidewright, TheListingShowsEveryStatusWithItsVersion) {
    host.respond("/current/_version._", 200, "\xEF\xBB\xBFKaltris Nexum-2.5.9\r\n");
    host.respond("/newer/_version._", 200, "Kaltris Nexum-2.6.0\n");
    const std::string down = "http://127.0.0.1:" + std::to_string(test::unusedLoopbackPort());
    writeCustomList(entry("uptodate", "current", host.baseUrl(), "Current build") + "," +
                    entry("outdated", "newer", host.baseUrl()) + "," + entry("offline", "current", down, "Host is down") +
                    "," + entry("missing", "current", host.baseUrl(), "Never installed"));
    for (const char* name : {"uptodate", "outdated", "offline"}) {
        test::writeFile(program / "clients" / name / "kaltrisclient.exe", "x");
        test::writeFile(program / "clients" / name / "_version._", "Kaltris Nexum-2.5.9");
    }
    const auto r = run({});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Name      Status         Version  Description\n"
                         "retail    Not Installed           Kaltris Nexum 2.5\n"
                         "pts       Not Installed           Kaltris Nexum 2.5 - Public Test Server\n"
                         "uptodate  Up To Date     2.5.9    Current build\n"
                         "outdated  Out of Date    2.5.9    outdated\n"
                         "offline   Unknown        2.5.9    Host is down\n"
                         "missing   Not Installed           Never installed\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(host.requestCount("/current/_version._"), 1u);
    EXPECT_EQ(host.requestCount("/newer/_version._"), 1u);
}

TEST_F(WineTidewright, DuplicateAndDeleteWorkOnWindowsPaths) {
    writeCustomList(entry("demo", "demo", host.baseUrl()));
    ASSERT_EQ(run({"--update-single", "demo"}).exitCode, 0);

    auto r = run({"--duplicate", "demo", "Копия"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const fs::path copy = program / "clients" / "Копия";
    EXPECT_NE(r.out.find("Duplicated demo as Копия.\nFolder: " + test::windowsPathOf(copy) + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(test::readFile(copy / "data" / "readme.txt"), "hello");
    EXPECT_NE(test::readFile(program / "customlist.json").find("\"desc\": \"demo (Copy)\""), std::string::npos);

    r = run({"--duplicate", "demo", "Копия"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Error: That name is already in use. Choose a different name.\n"), std::string::npos)
        << r.out;

    r = run({"--delete", "Копия"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Removed " + test::windowsPathOf(copy) + "\n"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(fs::exists(program / "clients" / "demo" / "data" / "readme.txt"));
    EXPECT_EQ(test::readFile(program / "customlist.json").find("Копия"), std::string::npos);
}

// Wine turns SIGINT into the console's Ctrl+C event for the program.
TEST_F(WineTidewright, CtrlCDuringASlowDownloadCancelsTheRun) {
    demo.addFile("data/big.bin", std::string(64, 'b'));
    demo.publish();
    host.streamBody("/demo/data/big.bin", 1024, std::chrono::milliseconds(50), 1 << 20);
    writeCustomList(entry("demo", "demo", host.baseUrl()));
    test::TempDir scratch{"wine-ctrl-c"};
    test::ChildProcess child;
    ASSERT_TRUE(test::startUnderWine(child, program / "tidewright.exe",
                                     {"--update-single", "demo", "--skip-self-update"}, program.path(),
                                     scratch / "out.txt"));
    // The cancel handler is in place before the first download starts.
    ASSERT_TRUE(host.waitForRequests("/demo/data/big.bin", 1, seconds(60)));
    ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
    const auto outcome = child.wait(seconds(60));
    const std::string out = test::readFile(scratch / "out.txt");
    EXPECT_TRUE(outcome.exited) << out;
    EXPECT_EQ(outcome.exitCode, 2) << out;
    EXPECT_NE(out.find("\nCancelled.\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Updated "), std::string::npos) << out;
    EXPECT_NE(log().find("CLI update cancelled"), std::string::npos);
    EXPECT_LT(host.bytesSent("/demo/data/big.bin"), std::size_t{1} << 20);
}

std::string entryJson(const std::string& name, const std::string& bytes) {
    return "{\"name\":\"" + name + "\",\"sha256\":\"" + sha256Hex(bytes) + "\",\"size\":" +
           std::to_string(bytes.size()) + "}";
}

// The restarted program shares the first one's output, so the run's output
// ends only when it is done; keelswap.exe.new is applied by that run.
TEST(WineSelfUpdate, NewerProgramsAreHandedOverThroughKeelswapAndTheRunRestarts) {
    test::useWinePrefix();
    test::TempDir program{"wine handover"};  // a space in the path on purpose
    const fs::path testBuild = test::windowsProgram("tidewright_loopback_update.exe");
    fs::copy_file(testBuild, program / "tidewright.exe");
    fs::copy_file(test::windowsProgram("keelswap.exe"), program / "keelswap.exe");

    // The "new" builds: the regular tidewright, and keelswap with a marker
    // appended (a Windows program runs the same with trailing bytes).
    const std::string newTidewright = test::readFile(test::windowsProgram("tidewright.exe"));
    const std::string newKeelswap = test::readFile(test::windowsProgram("keelswap.exe")) + "new keelswap build";
    test::LoopbackServer host;
    host.respond("/latest.json", 200,
                 "{\"version\":\"ffffffff\",\"files\":[" + entryJson("tidewright.exe", newTidewright) + "," +
                     entryJson("keelswap.exe", newKeelswap) + "," + entryJson("readme.txt", "ignored") + "]}");
    host.respond("/tidewright.exe", 200, newTidewright);
    host.respond("/keelswap.exe", 200, newKeelswap);

    const auto r = test::runUnderWine(program / "tidewright.exe", {"--update-all"}, program.path(),
                                      {{"MENDLY_TEST_UPDATE_HOST", host.baseUrl()}}, seconds(180));
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Checking for launcher updates...\nUpdating launcher files. The updater will restart.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Updated 0, skipped 2, failed 0.\n"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(host.requestCount("/tidewright.exe"), 1u);
    EXPECT_EQ(host.requestCount("/latest.json"), 1u);

    // (Compared as truths: a failure must not print two programs' bytes.)
    EXPECT_TRUE(test::readFile(program / "tidewright.exe") == newTidewright) << "tidewright.exe was not replaced";
    EXPECT_TRUE(test::readFile(program / "keelswap.exe") == newKeelswap) << "keelswap.exe.new was not applied";
    EXPECT_FALSE(fs::exists(program / "keelswap.exe.new"));
    EXPECT_FALSE(fs::exists(program / ".launcher_update"));
    const std::string log = test::readFile(program / "launcher.log");
    EXPECT_NE(log.find("Applied pending keelswap"), std::string::npos) << log;
    EXPECT_NE(log.find("CLI skip (not installed): retail"), std::string::npos) << log;
}

}  // namespace
}  // namespace mendly
