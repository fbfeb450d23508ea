#include "replacement_run.h"

#include "child_process_testing.h"
#include "temp_folder_testing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

namespace mendly::keelswap {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using testing::ChildProcess;
using testing::readBytes;
using testing::TempFolder;
using testing::writeBytes;

constexpr const char* kUsage =
    "keelswap - replace locked files after a process exits.\n"
    "\n"
    "Usage (Windows):\n"
    "  keelswap --wait-pid <pid>\n"
    "    (--replace <target> --with <source>)+\n"
    "    [--cleanup-dir <path>]\n"
    "    [--exec <commandLine>]\n"
    "\n"
    "Waits until the given PID is no longer running, then copies each --with file over its\n"
    "--replace target. If --cleanup-dir is set, removes that directory after copies succeed.\n"
    "If --exec is set, runs CreateProcess on that line.\n";

// Runs keelswap in this process with the specified timings; pauses are
// recorded instead of slept unless a test asks for real ones.
class KeelswapRun : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(staging());
        writeBytes(staging() / "tidewright", "new tidewright");
        writeBytes(staging() / "launcher", "new launcher");
        writeBytes(folder / "tidewright", "old tidewright");
        writeBytes(folder / "launcher", "old launcher");
        writeBytes(folder / "keelswap", "running keelswap");
        context.ownExecutable = folder / "keelswap";
        context.pause = [this](milliseconds duration) { pauses.push_back(duration); };
    }

    fs::path staging() const { return folder.path() / ".launcher_update"; }

    int run(const std::vector<std::string>& args) { return runKeelswap(args, context, err); }

    std::vector<std::string> replaceArgs(const std::string& name) const {
        return {"--replace", folder / name, "--with", (staging() / name).string()};
    }

    TempFolder folder;
    RunContext context;
    std::vector<milliseconds> pauses;
    std::ostringstream err;
};

TEST_F(KeelswapRun, NoArgumentsWritesTheUsageTextAndEndsWithTwo) {
    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(err.str(), kUsage);
}

TEST_F(KeelswapRun, AUsageErrorWaitsForNothingAndCopiesNothing) {
    ChildProcess caller({"sleep", "30"});
    auto args = replaceArgs("tidewright");
    args.insert(args.begin(), {"--wait-pid", std::to_string(caller.pid())});
    args.push_back("--Exec");
    args.push_back("x");
    EXPECT_EQ(run(args), 2);
    EXPECT_EQ(err.str(), kUsage);
    EXPECT_EQ(readBytes(folder / "tidewright"), "old tidewright");
    EXPECT_TRUE(pauses.empty());
    EXPECT_FALSE(caller.hasEnded());
}

TEST_F(KeelswapRun, WithoutAProcessToWaitForThereIsNoPause) {
    EXPECT_EQ(run(replaceArgs("tidewright")), 0);
    auto withZero = replaceArgs("launcher");
    withZero.insert(withZero.begin(), {"--wait-pid", "0"});
    EXPECT_EQ(run(withZero), 0);
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
    EXPECT_EQ(readBytes(folder / "launcher"), "new launcher");
    EXPECT_EQ(err.str(), "");
}

TEST_F(KeelswapRun, ACallerThatHasAlreadyEndedGivesOneHalfSecondPause) {
    pid_t gone = 0;
    {
        ChildProcess quick({"true"});
        ASSERT_EQ(quick.waitForExit(std::chrono::seconds(10)), 0);
        gone = quick.pid();
    }
    auto args = replaceArgs("tidewright");
    args.insert(args.begin(), {"--wait-pid", std::to_string(gone)});
    EXPECT_EQ(run(args), 0);
    EXPECT_EQ(pauses, (std::vector<milliseconds>{milliseconds(500)}));
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
}

TEST_F(KeelswapRun, ACallerStillRunningAfterTheLimitDoesNotStopTheCopies) {
    ChildProcess caller({"sleep", "30"});
    context.timings.processWaitLimit = milliseconds(150);
    auto args = replaceArgs("tidewright");
    args.insert(args.begin(), {"--wait-pid", std::to_string(caller.pid())});
    EXPECT_EQ(run(args), 0);
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
    EXPECT_TRUE(pauses.empty());
    EXPECT_FALSE(caller.hasEnded());
}

TEST_F(KeelswapRun, CopiesEveryJobAndRemovesTheStagingFolder) {
    auto args = replaceArgs("tidewright");
    const auto second = replaceArgs("launcher");
    args.insert(args.end(), second.begin(), second.end());
    args.insert(args.end(), {"--cleanup-dir", staging().string()});
    EXPECT_EQ(run(args), 0);
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
    EXPECT_EQ(readBytes(folder / "launcher"), "new launcher");
    EXPECT_FALSE(fs::exists(staging()));
    EXPECT_EQ(err.str(), "");
}

TEST_F(KeelswapRun, OnlyTheLastCleanupFolderIsRemoved) {
    fs::create_directory(folder / "first");
    fs::create_directory(folder / "second");
    auto args = replaceArgs("tidewright");
    args.insert(args.end(), {"--cleanup-dir", folder / "first", "--cleanup-dir", folder / "second"});
    EXPECT_EQ(run(args), 0);
    EXPECT_TRUE(fs::exists(folder / "first"));
    EXPECT_FALSE(fs::exists(folder / "second"));
}

TEST_F(KeelswapRun, AMissingCleanupFolderIsNotReported) {
    auto args = replaceArgs("tidewright");
    args.insert(args.end(), {"--cleanup-dir", folder / "never-there"});
    EXPECT_EQ(run(args), 0);
    EXPECT_EQ(err.str(), "");
}

TEST_F(KeelswapRun, ACleanupFolderThatCannotBeRemovedIsOnlyAWarning) {
    // A path through a regular file cannot be examined or removed, even by root.
    auto args = replaceArgs("tidewright");
    const std::string unremovable = folder / "launcher/sub";
    args.insert(args.end(), {"--cleanup-dir", unremovable});
    EXPECT_EQ(run(args), 0);
    EXPECT_EQ(err.str(), "Warning: could not remove staging directory: " + unremovable + "\n");
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
}

TEST_F(KeelswapRun, ALockedTargetIsRetriedUntilItCanBeReplaced) {
    // A folder standing where the target belongs makes every replacement
    // fail, for root as well; a helper thread clears it after a while.
    fs::remove(folder / "tidewright");
    fs::create_directories(folder / "tidewright/busy");
    context.timings.copyRetryPause = milliseconds(20);
    context.pause = [this](milliseconds duration) {
        pauses.push_back(duration);
        std::this_thread::sleep_for(duration);
    };
    std::thread unlocker([this] {
        std::this_thread::sleep_for(milliseconds(200));
        fs::remove_all(folder / "tidewright");
    });
    const int code = run(replaceArgs("tidewright"));
    unlocker.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
    EXPECT_GE(pauses.size(), 2u);
    EXPECT_LT(pauses.size(), 240u);
    EXPECT_EQ(err.str(), "");
}

TEST_F(KeelswapRun, ATargetLockedThroughAllAttemptsStopsTheRunWithOne) {
    fs::create_directories(folder / "launcher.locked/busy");
    auto args = replaceArgs("tidewright");
    const std::vector<std::string> locked{"--replace", folder / "launcher.locked", "--with",
                                          (staging() / "launcher").string()};
    args.insert(args.end(), locked.begin(), locked.end());
    const auto later = replaceArgs("launcher");
    args.insert(args.end(), later.begin(), later.end());
    args.insert(args.end(), {"--cleanup-dir", staging().string(), "--exec", "/nonexistent/program"});

    EXPECT_EQ(run(args), 1);
    // The attempt count and pause are the specified ones.
    EXPECT_EQ(pauses, std::vector<milliseconds>(240, milliseconds(500)));
    // Only the failure line: the command line was not even tried.
    EXPECT_EQ(err.str(), "Failed to copy " + (staging() / "launcher").string() + " -> " + (folder / "launcher.locked") +
                             " after retries.\n");
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
    EXPECT_EQ(readBytes(folder / "launcher"), "old launcher");
    EXPECT_TRUE(fs::exists(staging()));
}

TEST_F(KeelswapRun, ItsOwnExecutableIsRecognisedUnderAnotherSpelling) {
    writeBytes(staging() / "keelswap", "new keelswap");
    EXPECT_EQ(run({"--replace", folder / "./keelswap", "--with", (staging() / "keelswap").string()}), 0);
    EXPECT_EQ(readBytes(folder / "keelswap.new"), "new keelswap");
    EXPECT_EQ(readBytes(folder / "keelswap"), "running keelswap");
}

TEST_F(KeelswapRun, ADifferentlyCasedNameOnACaseSensitiveFileSystemIsReplacedNormally) {
    writeBytes(folder / "KEELSWAP", "another file");
    writeBytes(staging() / "KEELSWAP", "its new version");
    EXPECT_EQ(run(replaceArgs("KEELSWAP")), 0);
    EXPECT_EQ(readBytes(folder / "KEELSWAP"), "its new version");
    EXPECT_FALSE(fs::exists(folder / "KEELSWAP.new"));
    EXPECT_EQ(readBytes(folder / "keelswap"), "running keelswap");
}

TEST_F(KeelswapRun, FailingToStageItsOwnCopyHasItsOwnMessage) {
    context.timings.copyAttempts = 3;
    EXPECT_EQ(run(replaceArgs("keelswap")), 1);  // nothing staged for it
    EXPECT_EQ(err.str(), "Failed to stage updater self-update.\n");
    EXPECT_EQ(pauses.size(), 3u);
    EXPECT_FALSE(fs::exists(folder / "keelswap.new"));
}

TEST_F(KeelswapRun, ACommandLineThatCannotBeStartedEndsWithOneAfterCopiesAndCleanup) {
    auto args = replaceArgs("tidewright");
    const std::string line = "\"/nonexistent/Kaltris Nexum/tidewright\" --skip-self-update";
    args.insert(args.end(), {"--cleanup-dir", staging().string(), "--exec", line});
    EXPECT_EQ(run(args), 1);
    EXPECT_EQ(err.str(), "CreateProcess failed: " + line + "\n");
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
    EXPECT_FALSE(fs::exists(staging()));
}

}  // namespace
}  // namespace mendly::keelswap
