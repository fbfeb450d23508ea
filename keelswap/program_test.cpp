// Runs the built keelswap program as a process, from a temporary folder.
#include "child_process_testing.h"
#include "temp_folder_testing.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace mendly::keelswap {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::ChildProcess;
using testing::readBytes;
using testing::runProgram;
using testing::TempFolder;
using testing::waitForFile;
using testing::writeBytes;

// A program folder holding a copy of keelswap and a staging folder, as the
// launcher's self-update leaves it before the hand-over.
class KeelswapProgram : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(KEELSWAP_EXE, keelswap());
        fs::create_directory(staging());
        writeBytes(staging() / "tidewright", "new tidewright");
        writeBytes(folder / "tidewright", "old tidewright");
    }

    std::string keelswap() const { return folder / "keelswap"; }
    fs::path staging() const { return folder.path() / ".launcher_update"; }

    testing::ProgramResult run(std::vector<std::string> args) {
        args.insert(args.begin(), keelswap());
        return runProgram(args, folder.path(), seconds(60));
    }

    TempFolder folder;
};

TEST_F(KeelswapProgram, NoArgumentsPrintTheUsageToTheErrorStreamAndExitWithTwo) {
    const auto result = run({});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.errorOutput,
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
              "If --exec is set, runs CreateProcess on that line.\n");
}

TEST_F(KeelswapProgram, WaitsForTheCallerToEndBeforeCopying) {
    ChildProcess caller({"sleep", "1"});
    ASSERT_TRUE(caller.started());
    const auto result = run({"--wait-pid", std::to_string(caller.pid()), "--replace", folder / "tidewright", "--with",
                             (staging() / "tidewright").string(), "--cleanup-dir", staging().string()});
    EXPECT_TRUE(caller.hasEnded());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.errorOutput, "");
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
    EXPECT_FALSE(fs::exists(staging()));
}

TEST_F(KeelswapProgram, ItsOwnNewCopyLandsBesideItAndTheRunningFileStays) {
    const std::string original = readBytes(keelswap());
    writeBytes(staging() / "keelswap", "new keelswap");
    const auto result = run({"--replace", keelswap(), "--with", (staging() / "keelswap").string(), "--replace",
                             folder / "tidewright", "--with", (staging() / "tidewright").string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(readBytes(folder / "keelswap.new"), "new keelswap");
    EXPECT_EQ(readBytes(keelswap()), original);
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
}

TEST_F(KeelswapProgram, StartsTheCommandLineInItsWorkingFolderWithoutWaitingForIt) {
    // The started program records its working folder and arguments, after a
    // delay that shows keelswap does not wait for it.
    const fs::path programs = folder.path() / "Kaltris Nexum";
    fs::create_directory(programs);
    const fs::path marker = folder.path() / "marker.txt";
    const fs::path script = programs / "restart.sh";
    writeBytes(script, "#!/bin/sh\nsleep 1\n{ pwd; for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done; } > '" +
                           marker.string() + ".tmp'\nmv '" + marker.string() + ".tmp' '" + marker.string() + "'\n");
    fs::permissions(script, fs::perms(0755));

    // The line as the caller writes it: every argument quoted the Windows way.
    const std::string line = "\"" + script.string() +
                             "\" --update-single \"my \\\"server\\\"\" \"\" \xCE\xA9mega \"C:\\dir\\\\\" "
                             "--skip-self-update";
    const auto result = run({"--replace", folder / "tidewright", "--with", (staging() / "tidewright").string(),
                             "--cleanup-dir", staging().string(), "--exec", line});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.errorOutput, "");
    EXPECT_FALSE(fs::exists(marker));
    ASSERT_TRUE(waitForFile(marker, seconds(20)));
    EXPECT_EQ(readBytes(marker), folder.path().string() +
                                     "\n<--update-single>\n<my \"server\">\n<>\n<\xCE\xA9mega>\n<C:\\dir\\>\n"
                                     "<--skip-self-update>\n");
}

TEST_F(KeelswapProgram, AProgramThatDoesNotExistEndsWithOne) {
    const std::string line = folder / "no-such-program --skip-self-update";
    const auto result = run({"--replace", folder / "tidewright", "--with", (staging() / "tidewright").string(),
                             "--cleanup-dir", staging().string(), "--exec", line});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.errorOutput, "CreateProcess failed: " + line + "\n");
    EXPECT_EQ(readBytes(folder / "tidewright"), "new tidewright");
    EXPECT_FALSE(fs::exists(staging()));
}

}  // namespace
}  // namespace mendly::keelswap
