// The launcher's start-up self-update with the real programs: a launcher whose
// update host is on loopback finds a newer build of itself, stages it, starts
// keelswap, closes its log and ends with exit code 0 before any window opens;
// keelswap replaces the file and starts the new build with the same arguments.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "hash/digest.h"
#include "support/loopback_server.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "virtual_display.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

#ifdef KEELSWAP_EXE
TEST(LauncherSelfUpdate, ANewerLauncherIsHandedToKeelswapAndTheNewBuildStarts) {
    test::VirtualDisplay display;
    ASSERT_TRUE(display.start());
    test::TempDir program{"launcher update"};  // a space in the path on purpose
    fs::copy_file(LAUNCHER_LOOPBACK_UPDATE_EXE, program / "launcher");
    fs::copy_file(KEELSWAP_EXE, program / "keelswap");

    // The "new" build is the regular test build (its update host is not on
    // loopback, so it does not update again); it finds no servers and says so.
    const std::string newLauncher = test::readFile(LAUNCHER_EMPTY_CATALOG_EXE);
    test::LoopbackServer host;
    host.respond("/latest.json", 200,
                 "{\"version\":\"ffffffff\",\"files\":[{\"name\":\"launcher\",\"sha256\":\"" + sha256Hex(newLauncher) +
                     "\",\"size\":" + std::to_string(newLauncher.size()) + "}]}");
    host.respond("/launcher", 200, newLauncher);

    test::ProcessOptions options;
    options.args = {"--test-answer-dialogs"};
    options.env = {{"DISPLAY", display.name()}, {"GDK_BACKEND", "x11"}, {"MENDLY_TEST_UPDATE_HOST", host.baseUrl()}};
    options.workingDirectory = program.path();
    options.timeLimit = std::chrono::seconds(90);
    // runProcess reads until keelswap and the restarted launcher, which share
    // the first run's output, are done as well.
    const auto r = test::runProcess(program / "launcher", options);
    ASSERT_FALSE(r.timedOut) << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(host.requestCount("/launcher"), 1u);
    // Only the new build got as far as its catalog (the first run never opened a window).
    EXPECT_EQ(r.err, "message box: Launcher | error | No servers configured in embedded catalog.\n");

    for (int i = 0; i < 200 && fs::exists(program / ".launcher_update"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(test::readFile(program / "launcher"), newLauncher);
    EXPECT_FALSE(fs::exists(program / ".launcher_update"));
    EXPECT_NE(fs::status(program / "launcher").permissions() & fs::perms::owner_exec, fs::perms::none);
    // The log is the restarted run's: it was told to skip the check.
    const std::string log = test::readFile(program / "launcher.log");
    EXPECT_NE(log.find("Launcher Update Check: OK\n"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR: No servers configured\n"), std::string::npos) << log;
}
#endif

}  // namespace
}  // namespace mendly
