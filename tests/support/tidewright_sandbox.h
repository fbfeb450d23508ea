#pragma once
// A program folder holding a copy of the built tidewright, with custom
// catalog entries that point at loopback patch hosts, for tests that run the
// program as a process (to completion, or started and killed).
//
// Threads: the test's thread.
#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly::test {

class TidewrightSandbox {
public:
    // Copies `builtProgram` into a fresh folder (or into `folder` when given,
    // which must exist).
    explicit TidewrightSandbox(const std::filesystem::path& builtProgram, std::filesystem::path folder = {});

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path program() const { return folder_ / "tidewright"; }
    std::filesystem::path client(const std::string& name) const { return folder_ / "clients" / name; }

    // Writes customlist.json with one entry per (name, patch base URL), each
    // with server = name and launch executable "kaltrisclient.exe".
    void writeCustomList(const std::vector<std::pair<std::string, std::string>>& entries) const;

    // Runs tidewright with `args` and "--skip-self-update" to completion.
    ProcessResult run(std::vector<std::string> args,
                      std::chrono::milliseconds limit = std::chrono::seconds(60)) const;

    // Starts it the same way without waiting; output goes to output().
    [[nodiscard]] bool start(ChildProcess& child, std::vector<std::string> args) const;
    std::filesystem::path output() const { return scratch_.path() / "output.txt"; }

    // launcher.log as written so far ("" when there is none).
    std::string log() const;

private:
    TempDir own_{"fault-program"};
    TempDir scratch_{"fault-scratch"};
    std::filesystem::path folder_;
};

}  // namespace mendly::test
