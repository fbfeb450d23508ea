#pragma once
// Test helpers for real child processes. Every wait has a limit, and a child
// still running when its owner goes away is killed and reaped.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace mendly::keelswap::testing {

// A child process started with posix_spawnp; killed (SIGKILL) and reaped on
// destruction if it has not been reaped before.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::filesystem::path& workingFolder = {},
                          const std::filesystem::path& stderrFile = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Has the child ended (it is reaped then)? Does not block.
    bool hasEnded();
    // Waits up to `limit` for the child to end; kills it when the limit
    // passes. Returns the exit code, or -1 when it was killed or crashed.
    int waitForExit(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

struct ProgramResult {
    int exitCode = -1;  // -1: killed after the time limit, or crashed
    std::string errorOutput;
};

// Runs a program to its end in `workingFolder` with its error stream captured,
// killing it after `limit`.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));

// Waits up to `limit` for a file to appear.
bool waitForFile(const std::filesystem::path& path, std::chrono::milliseconds limit);

}  // namespace mendly::keelswap::testing
