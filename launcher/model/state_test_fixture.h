#pragma once
// A LauncherState over a temporary program folder, with helpers that install
// a client for an entry (a launch executable in its folder).
#include <gtest/gtest.h>

#include "model/launcher_state.h"
#include "patch/cancel_flag.h"
#include "support/temp_dir.h"

namespace mendly::test {

inline ServerEntry makeEntry(std::string name, std::string desc = "", std::string launchExecutable = "kaltrisclient.exe") {
    return {std::move(name), std::move(desc), "aurum", "http://127.0.0.1:1", std::move(launchExecutable), ""};
}

class LauncherStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetPatchCancel();
        state.programFolder = program.path();
    }
    void TearDown() override { resetPatchCancel(); }

    void setEntries(std::vector<ServerEntry> entries, std::size_t builtIn) {
        state.catalog.entries = std::move(entries);
        state.catalog.builtInCount = builtIn;
        state.builtInCount = builtIn;
        state.entryStatuses.assign(state.catalog.entries.size(), 0);
        state.entryProblems.assign(state.catalog.entries.size(), {});
    }
    // Puts a client executable into the entry's installation folder.
    void install(std::size_t index, const std::string& file = "kaltrisclient.exe") {
        const auto folder = state.installFolderOf(state.catalog.entries.at(index));
        std::filesystem::create_directories(folder);
        writeFile(folder / file, "MZ");
    }

    TempDir program;
    LauncherState state;
};

}  // namespace mendly::test
