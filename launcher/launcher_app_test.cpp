// The launcher program as a process: copied into a temporary program folder
// and started on a private Xvfb display, with its message boxes answered by
// the test-only option --test-answer-dialogs.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "build_info.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "virtual_display.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> logMessages(const std::string& log) {
    std::vector<std::string> messages;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        // "YYYY-MM-DD HH:MM:SS.mmm " prefix
        messages.push_back(line.size() > 24 ? line.substr(24) : line);
    }
    return messages;
}

class LauncherProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        display = new test::VirtualDisplay;
        ASSERT_TRUE(display->start());
    }
    static void TearDownTestSuite() {
        delete display;
        display = nullptr;
    }

    void SetUp() override {
        program = folder / "launcher";
        fs::copy_file(LAUNCHER_EMPTY_CATALOG_EXE, program);
    }

    test::ProcessResult run(std::vector<std::string> args, std::string displayName = "") {
        test::ProcessOptions options;
        options.args = std::move(args);
        options.env = {{"DISPLAY", displayName.empty() ? display->name() : displayName}, {"GDK_BACKEND", "x11"}};
        options.workingDirectory = folder.path();
        options.timeLimit = std::chrono::seconds(60);
        return test::runProcess(program, options);
    }

    static test::VirtualDisplay* display;
    test::TempDir folder{"launcher_app"};
    fs::path program;
};

test::VirtualDisplay* LauncherProgram::display = nullptr;

TEST_F(LauncherProgram, EmptyCatalogShowsOnlyTheErrorAndExitsWithZero) {
    const test::ProcessResult r = run({"--skip-self-update", "--test-answer-dialogs"});
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "message box: Launcher | error | No servers configured in embedded catalog.\n");

    const std::vector<std::string> expected = {
        "launcher.log opened",
        "Kaltris Nexum Launcher starting",
        std::string("Launcher version ") + buildIdentifierUtf8(),
        "Launcher Update Check: OK",
        "ERROR: No servers configured",
        "launcher exiting",
    };
    EXPECT_EQ(logMessages(test::readFile(folder / "launcher.log")), expected);
}

TEST_F(LauncherProgram, ALogThatCannotBeCreatedIsReportedAndStartUpGoesOn) {
    fs::create_directory(folder / "launcher.log");  // a folder where the log file belongs
    const test::ProcessResult r = run({"--skip-self-update", "--test-answer-dialogs"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "message box: Launcher | warning | Could not create launcher.log in\\n" + folder.path().string() +
                         "\n"
                         "message box: Launcher | error | No servers configured in embedded catalog.\n");
    EXPECT_TRUE(fs::is_directory(folder / "launcher.log"));
}

TEST_F(LauncherProgram, WithoutADisplayItEndsWithMinusOneAndLogsNothing) {
    const test::ProcessResult r = run({"--skip-self-update", "--test-answer-dialogs"}, ":987654");
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_FALSE(fs::exists(folder / "launcher.log"));
}

}  // namespace
}  // namespace mendly
