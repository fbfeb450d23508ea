#pragma once
// Tests only: a GoogleTest suite whose tests share one private Xvfb display
// (virtual_display.h), started before the suite's first test and ended after
// its last. A suite derives from DisplaySuite and reads `display`, and runs
// the launcher with a test script through runScript.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "virtual_display.h"

namespace mendly::test {

// The wait every window test's page script starts from: until(f) asks f
// every 100 ms, for up to 40 s, and says whether it came true.
inline constexpr const char* kPageUntil =
    "const until = async (f) => { for (let i = 0; i < 400; i++) { if (f()) return true; "
    "await new Promise(r => setTimeout(r, 100)); } return false; };\n";

class DisplaySuite : public ::testing::Test {
protected:
#ifdef SNAPSHOT_DIR
    // Where a test script's "#snapshot" writes `name`, with any picture an
    // earlier run left there removed.
    static std::string snapshot(const std::string& name) {
        const std::filesystem::path file = std::filesystem::path(SNAPSHOT_DIR) / name;
        std::filesystem::remove(file);
        return file.string();
    }
#endif
    static void SetUpTestSuite() {
        display = new VirtualDisplay;
        ASSERT_TRUE(display->start());
    }
    static void TearDownTestSuite() {
        delete display;
        display = nullptr;
    }

    // Runs folder/launcher on the suite's display with `steps` as its test
    // script (written to folder/steps.js), dialogs answered, no self-update,
    // no session bus, PATH as given.
    static ProcessResult runScript(const std::filesystem::path& folder, const std::string& steps,
                                   const std::string& path, std::chrono::seconds limit) {
        const std::filesystem::path script = folder / "steps.js";
        writeFile(script, steps);
        ProcessOptions options;
        options.args = {"--skip-self-update", "--test-answer-dialogs", "--test-script", script.string()};
        options.env = {{"DISPLAY", display->name()},
                       {"GDK_BACKEND", "x11"},
                       {"PATH", path},
                       {"DBUS_SESSION_BUS_ADDRESS", ""}};
        options.workingDirectory = folder;
        options.timeLimit = limit;
        return runProcess(folder / "launcher", options);
    }

    // Suites run one after another, so one pointer serves them all.
    inline static VirtualDisplay* display = nullptr;
};

// The lines a test script printed with its step results ("step N: ...").
inline std::vector<std::string> stepLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("step ", 0) == 0) lines.push_back(line);
    return lines;
}

}  // namespace mendly::test
