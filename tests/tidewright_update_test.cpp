// tidewright's update, duplicate and delete commands, run as a program against
// a patch host on loopback.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "support/child_process.h"
#include "support/file_text_wait.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

class TidewrightUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(TIDEWRIGHT_EXE, program.path() / "tidewright");
        host.serveFolder(hostRoot.path());
        demo.addFile("kaltrisclient.exe", "client executable");
        demo.addFile("_version._", "Kaltris Nexum-2.5.1\r\n");
        demo.addFile("data/readme.txt", "hello");
        demo.addFile("ini/user.ini", "[user]\nname=x\n");
        demo.addFile("ini/updater.ini", "[updater]\n");
        demo.addFile("worlds/map1.dat", std::string(5000, 'm'));
        demo.addFile("worlds/sub/map2.dat", "second map");
        demo.publish();
    }

    void writeCustomList(const std::string& entries) {
        test::writeFile(program / "customlist.json", "{\"servers\":[" + entries + "]}");
    }
    std::string entry(const std::string& name, const std::string& server) const {
        return "{\"name\":\"" + name + "\",\"server\":\"" + server + "\",\"patchBaseUrl\":\"" + host.baseUrl() +
               "\",\"launchExecutable\":\"kaltrisclient.exe\"}";
    }
    test::ProcessResult run(std::vector<std::string> args) {
        args.push_back("--skip-self-update");
        return test::runProcess(program.path() / "tidewright", {args, {}, program.path(), std::chrono::seconds(60)});
    }
    std::string log() { return test::readFile(program / "launcher.log"); }

    test::TempDir program{"tw-update"};
    test::TempDir hostRoot{"tw-host"};
    test::LoopbackServer host;
    test::PatchHostFolder demo{hostRoot.path(), "demo"};
};

TEST_F(TidewrightUpdateTest, UpdateAllWithNothingInstalledSkipsEveryEntry) {
    const auto r = run({"--update-all"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Skipping retail (not installed).\nSkipping pts (not installed).\n"
                         "Updated 0, skipped 2, failed 0.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(log().find("CLI skip (not installed): retail"), std::string::npos);
}

TEST_F(TidewrightUpdateTest, UpdateSingleInstallsANewEntryAndASecondRunFetchesOnlyWhatChanged) {
    writeCustomList(entry("demo", "demo"));
    auto r = run({"--update-single", "DEMO"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Installing demo\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  Verifying local files...\n"), std::string::npos);
    EXPECT_NE(r.out.find("Finished demo.\nUpdated 1, skipped 0, failed 0.\n"), std::string::npos) << r.out;
    const fs::path client = program / "clients" / "demo";
    EXPECT_EQ(test::readFile(client / "data" / "readme.txt"), "hello");
    EXPECT_TRUE(fs::exists(client / "worlds.pak"));
    EXPECT_NE(log().find("--- CLI install ---\n"), std::string::npos);

    test::writeFile(client / "data" / "readme.txt", "changed by hand");
    const auto before = host.totalRequests();
    r = run({"--update-single", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Updating demo\n"), std::string::npos);
    EXPECT_NE(r.out.find("  Verify done: 1 file(s) need patching\n"), std::string::npos) << r.out;
    EXPECT_EQ(host.totalRequests() - before, 2u);  // the manifest and the one changed file
    EXPECT_EQ(test::readFile(client / "data" / "readme.txt"), "hello");
    EXPECT_NE(log().find("--- CLI update ---\n"), std::string::npos);
}

TEST_F(TidewrightUpdateTest, SizesAreShownBeforeTheDownloadAndSummedUpAtTheEndOnConsoleAndInTheLog) {
    writeCustomList(entry("demo", "demo"));
    auto r = run({"--update-single", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::regex before(R"(  Verify done: \d+ file\(s\) need patching\n  Download: (\d+\.\d (MB|GB) in )?\d+ )"
                            R"(file\(s\)( \(free space \d+\.\d (MB|GB)\))?\n  Downloading files\.\.\.\n)");
    EXPECT_TRUE(std::regex_search(r.out, before)) << r.out;
    const std::regex summary(R"(  Fetched \d+\.\d MB, wrote \d+\.\d MB in \d+\.\d s\n)");
    EXPECT_TRUE(std::regex_search(r.out, summary)) << r.out;
    EXPECT_NE(log().find("Fetched "), std::string::npos);
    EXPECT_EQ(r.out.find("Reusing"), std::string::npos) << r.out;

    // What an interrupted run left staged (the bytes of data/readme.txt) is reused and said so.
    const fs::path client = program / "clients" / "demo";
    test::writeFile(client / "data" / "readme.txt", "changed by hand");
    test::writeFile(client / ".mendly-staging" / "5d41402abc4b2a76b9719d911017c592", "hello");
    const auto requests = host.totalRequests();
    r = run({"--update-single", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(R"(  Download: (0\.0 MB in )?0 file\(s\))"))) << r.out;
    EXPECT_NE(r.out.find("  Reusing 0.0 MB already downloaded\n"), std::string::npos) << r.out;
    EXPECT_NE(log().find("Reusing 0.0 MB already downloaded"), std::string::npos);
    EXPECT_EQ(host.totalRequests() - requests, 1u);  // the manifest only
    EXPECT_EQ(test::readFile(client / "data" / "readme.txt"), "hello");
}

TEST_F(TidewrightUpdateTest, OneFailingAndOneSucceedingEntryEndWithExitCodeOne) {
    test::PatchHostFolder broken{hostRoot.path(), "broken"};
    broken.addFile("kaltrisclient.exe", "x");
    broken.setPublished("kaltrisclient.exe", false);
    broken.publish();
    writeCustomList(entry("good", "demo") + "," + entry("bad", "broken"));
    for (const char* name : {"good", "bad"})
        test::writeFile(program / "clients" / name / "kaltrisclient.exe", "old");
    const auto r = run({"--update-all"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("Finished good.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Error: That file is not on the server right now (HTTP 404)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Updated 1, skipped 2, failed 1.\n"), std::string::npos) << r.out;
    EXPECT_NE(log().find("ERROR: bad \xE2\x80\x94 That file is not on the server right now (HTTP 404)"),
              std::string::npos);
}

// The pid of the copy of tidewright running from `exe`, or 0.
pid_t findRunning(const fs::path& exe) {
    for (const auto& dir : fs::directory_iterator("/proc")) {
        const std::string name = dir.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code ec;
        if (fs::read_symlink(dir.path() / "exe", ec) == exe) return static_cast<pid_t>(std::stoi(name));
    }
    return 0;
}

TEST_F(TidewrightUpdateTest, CtrlCDuringADownloadPrintsCancelledAndExitsTwoWithoutSummary) {
    demo.addFile("data/big.bin", std::string(64, 'b'));
    demo.publish();
    host.streamBody("/demo/data/big.bin", 1024, std::chrono::milliseconds(50), 1 << 20);
    writeCustomList(entry("demo", "demo"));
    std::thread interrupter([&] {
        if (!host.waitForRequests("/demo/data/big.bin", 1, std::chrono::seconds(30))) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (const pid_t pid = findRunning(program / "tidewright")) ::kill(pid, SIGINT);
    });
    const auto r = run({"--update-single", "demo"});
    interrupter.join();
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_NE(r.out.find("\nCancelled.\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Updated "), std::string::npos);
    EXPECT_NE(log().find("CLI update cancelled"), std::string::npos);
}

TEST_F(TidewrightUpdateTest, DuplicateAndDeletePrintAndLogTheirLines) {
    writeCustomList(entry("demo", "demo"));
    ASSERT_EQ(run({"--update-single", "demo"}).exitCode, 0);

    auto r = run({"--duplicate", "demo", "Копия"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const fs::path copy = program / "clients" / "Копия";
    EXPECT_NE(r.out.find("Duplicated demo as Копия.\nFolder: " + copy.string() + "\n"), std::string::npos) << r.out;
    EXPECT_NE(log().find("CLI duplicated demo as Копия"), std::string::npos);
    EXPECT_EQ(test::readFile(copy / "data" / "readme.txt"), "hello");
    EXPECT_NE(test::readFile(program / "customlist.json").find("\"desc\": \"demo (Copy)\""), std::string::npos);

    r = run({"--duplicate", "demo", "Копия"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Error: That name is already in use. Choose a different name.\n"), std::string::npos);

    r = run({"--delete", "retail"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Error: Built-in installations cannot be deleted.\n"), std::string::npos);

    r = run({"--delete", "копия"});  // non-ASCII letters do not fold: no such custom entry
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Error: No custom installation named \"копия\".\n"), std::string::npos) << r.out;

    r = run({"--delete", "Копия"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Deleted Копия.\nRemoved " + copy.string() + "\n"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(fs::exists(program / "clients" / "demo" / "kaltrisclient.exe"));
    EXPECT_NE(log().find("CLI deleted custom installation: Копия"), std::string::npos);
}

// An entry of the custom list, named "demo" and shown as "Demo Server", on `base`.
std::string namedEntry(const std::string& base) {
    return "{\"name\":\"demo\",\"desc\":\"Demo Server\",\"server\":\"demo\",\"patchBaseUrl\":\"" + base +
           "\",\"launchExecutable\":\"kaltrisclient.exe\"}";
}

std::string hostPort(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

// A failed download's sentence is followed by a line naming what was being
// fetched and from which host, on the console and in the log.
struct FetchFailureCase {
    const char* name;
    bool hostDown;        // nothing listens on the entry's port; otherwise one file is missing
    const char* sentence;
    const char* what;     // the context line up to " from "
};

class TidewrightFetchFailureTest : public TidewrightUpdateTest,
                                   public ::testing::WithParamInterface<FetchFailureCase> {};

TEST_P(TidewrightFetchFailureTest, TheErrorNamesWhatWasFetchedAndTheHost) {
    const FetchFailureCase c = GetParam();
    const std::uint16_t downPort = test::unusedLoopbackPort();
    if (!c.hostDown) {
        demo.setPublished("data/readme.txt", false);
        demo.publish();
    }
    writeCustomList(namedEntry(c.hostDown ? "http://" + hostPort(downPort) : host.baseUrl()));
    const auto r = run({"--update-single", "demo"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    const std::string where = c.hostDown ? hostPort(downPort) : hostPort(host.port());
    const std::string context = std::string(c.what) + " from " + where;
    EXPECT_NE(r.out.find("\nError: " + std::string(c.sentence) + "\n" + context + "\n"), std::string::npos) << r.out;
    EXPECT_NE(log().find("ERROR: demo \xE2\x80\x94 " + std::string(c.sentence) + "\n"), std::string::npos) << log();
    EXPECT_NE(log().find(" " + context + "\n"), std::string::npos) << log();
    if (c.hostDown) {
        // A refused connection is asked again twice, after 1 s and 2 s.
        EXPECT_NE(r.out.find("  Retrying in 1 s (attempt 2 of 3): " + where + " refused the connection\n"
                             "  Retrying in 2 s (attempt 3 of 3): " + where + " refused the connection\n"),
                  std::string::npos)
            << r.out;
    } else {
        EXPECT_EQ(r.out.find("Retrying"), std::string::npos) << "a missing file is not asked for again";
    }
}

INSTANTIATE_TEST_SUITE_P(
    ManifestAndFile, TidewrightFetchFailureTest,
    ::testing::Values(
        FetchFailureCase{"HostDown", true,
                         "Could not connect to the server. Check your internet connection and try again. (error 7)",
                         "while fetching the patch list of Demo Server"},
        FetchFailureCase{"FileMissing", false, "That file is not on the server right now (HTTP 404)",
                         "while fetching the file data/readme.txt of Demo Server"}),
    [](const ::testing::TestParamInfo<FetchFailureCase>& info) { return std::string(info.param.name); });

TEST_F(TidewrightUpdateTest, AHostThatRefusesTwiceAndThenAnswersSucceedsWithRetryLines) {
    const std::uint16_t port = test::unusedLoopbackPort();
    writeCustomList(namedEntry("http://" + hostPort(port)));
    test::TempDir scratch("tw-retry");
    const fs::path output = scratch / "output.txt";
    test::ChildProcess child;
    ASSERT_TRUE(child.start(program / "tidewright", {"--update-single", "demo", "--skip-self-update"}, program.path(),
                            output));
    // The second refusal has been announced: the host comes up during the
    // 2 s pause before the third attempt.
    const std::string secondRetry = "Retrying in 2 s (attempt 3 of 3): " + hostPort(port) + " refused the connection";
    ASSERT_TRUE(test::waitForFileText(output, secondRetry, std::chrono::seconds(30))) << test::readFile(output);
    test::LoopbackServer late(test::LoopbackServer::Scheme::Http, test::LoopbackServer::KeepAlive::Off, port);
    late.serveFolder(hostRoot.path());
    const test::ChildOutcome outcome = child.wait(std::chrono::seconds(60));
    const std::string out = test::readFile(output);
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0) << out;
    EXPECT_NE(out.find("  Retrying in 1 s (attempt 2 of 3): " + hostPort(port) + " refused the connection\n  " +
                       secondRetry + "\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Finished demo.\n"), std::string::npos) << out;
    EXPECT_EQ(test::readFile(program / "clients" / "demo" / "data" / "readme.txt"), "hello");
    EXPECT_EQ(late.requestCount("/demo.manifest"), 1u);
}

}  // namespace
}  // namespace mendly
