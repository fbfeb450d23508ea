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

class DisplaySuite : public ::testing::Test {
protected:
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
