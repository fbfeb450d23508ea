// The whole hand-over with the real programs: a tidewright whose update host is
// on loopback finds newer builds of itself and of keelswap, stages them, starts
// keelswap and exits; keelswap replaces the files and restarts tidewright with
// its arguments; the restarted program puts the pending keelswap in place.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "hash/digest.h"
#include "support/loopback_server.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

std::string entryJson(const std::string& name, const std::string& bytes) {
    return "{\"name\":\"" + name + "\",\"sha256\":\"" + sha256Hex(bytes) + "\",\"size\":" +
           std::to_string(bytes.size()) + "}";
}

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

TEST(SelfUpdateHandover, UpToDateFilesAreLeftAloneAndNewerOnesAreHandedOver) {
    {
        test::TempDir program{"handover-same"};
        fs::copy_file(TIDEWRIGHT_LOOPBACK_UPDATE_EXE, program / "tidewright");
        test::LoopbackServer host;
        host.respond("/latest.json", 200,
                     "{\"version\":\"x\",\"files\":[" +
                         entryJson("tidewright", test::readFile(TIDEWRIGHT_LOOPBACK_UPDATE_EXE)) + "]}");
        const auto r = test::runProcess(program / "tidewright", {{}, {{"MENDLY_TEST_UPDATE_HOST", host.baseUrl()}},
                                                                 program.path(), std::chrono::seconds(30)});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find("Name "), std::string::npos);  // the listing ran
        EXPECT_NE(test::readFile(program / "launcher.log").find("Launcher Update Check: OK"), std::string::npos);
    }

    test::TempDir program{"handover prog"};  // a space in the path on purpose
    fs::copy_file(TIDEWRIGHT_LOOPBACK_UPDATE_EXE, program / "tidewright");
    fs::copy_file(KEELSWAP_EXE, program / "keelswap");

    // The "new" builds: the regular tidewright, and keelswap with a marker
    // appended (an ELF program runs the same with trailing bytes).
    const std::string newTidewright = test::readFile(TIDEWRIGHT_EXE);
    const std::string newKeelswap = test::readFile(KEELSWAP_EXE) + "new keelswap build";
    test::LoopbackServer host;
    host.respond("/latest.json", 200,
                 "{\"version\":\"ffffffff\",\"files\":[" + entryJson("tidewright", newTidewright) + "," +
                     entryJson("keelswap", newKeelswap) + "," + entryJson("readme.txt", "ignored") + "]}");
    host.respond("/tidewright", 200, newTidewright);
    host.respond("/keelswap", 200, newKeelswap);

    // The first run hands over and exits 0; runProcess then keeps reading until
    // keelswap and the restarted tidewright, which share its output, are done.
    const auto r = test::runProcess(program / "tidewright",
                                    {{"--update-all"}, {{"MENDLY_TEST_UPDATE_HOST", host.baseUrl()}}, program.path(),
                                     std::chrono::seconds(90)});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Checking for launcher updates...\nUpdating launcher files. The updater will restart.\n"),
              std::string::npos)
        << r.out;
    // The restarted program ran the same command, without the update check.
    EXPECT_NE(r.out.find("Updated 0, skipped 2, failed 0.\n"), std::string::npos) << r.out;
    EXPECT_EQ(host.requestCount("/tidewright"), 1u);

    ASSERT_TRUE(waitFor([&] { return !fs::exists(program / "keelswap.new"); }, std::chrono::seconds(20)));
    EXPECT_EQ(test::readFile(program / "tidewright"), newTidewright);
    EXPECT_EQ(test::readFile(program / "keelswap"), newKeelswap);
    EXPECT_FALSE(fs::exists(program / ".launcher_update"));
    const auto perms = fs::status(program / "tidewright").permissions();
    EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);

    // The log is the restarted run's: it skipped the check and applied keelswap.
    const std::string log = test::readFile(program / "launcher.log");
    EXPECT_NE(log.find("Applied pending keelswap\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Launcher Update Check: OK\n"), std::string::npos) << log;
    EXPECT_NE(log.find("CLI skip (not installed): retail"), std::string::npos) << log;
    EXPECT_EQ(host.requestCount("/latest.json"), 1u);
}

// The restarted program inherits nothing but standard input, output and error:
// not the update check's sockets, not the log, whatever opened them.
TEST(SelfUpdateHandover, TheRestartedProgramHoldsOnlyTheStandardDescriptors) {
    test::TempDir program{"handover-fds"};
    fs::copy_file(TIDEWRIGHT_LOOPBACK_UPDATE_EXE, program / "tidewright");
    fs::copy_file(KEELSWAP_EXE, program / "keelswap");
    const std::string lister = test::readFile(DESCRIPTOR_LISTER_EXE);
    test::LoopbackServer host;
    host.respond("/latest.json", 200, "{\"version\":\"ffffffff\",\"files\":[" + entryJson("tidewright", lister) + "]}");
    host.respond("/tidewright", 200, lister);

    const auto r = test::runProcess(program / "tidewright",
                                    {{"--update-all"}, {{"MENDLY_TEST_UPDATE_HOST", host.baseUrl()}}, program.path(),
                                     std::chrono::seconds(90)});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_TRUE(waitFor([&] { return fs::exists(program / "descriptors.txt"); }, std::chrono::seconds(20))) << r.out;
    ASSERT_TRUE(waitFor([&] { return !test::readFile(program / "descriptors.txt").empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(test::readFile(program / "descriptors.txt"), "0\n1\n2\n");
}

}  // namespace
}  // namespace mendly
