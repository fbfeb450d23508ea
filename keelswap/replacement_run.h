#pragma once
// One run of keelswap from its arguments to its exit code.
#include <cstdint>
#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace mendly::keelswap {

enum ExitCode : int {
    kExitSuccess = 0,     // all copies done; the command line, if any, was started
    kExitFailure = 1,     // a copy job failed after all attempts, or the start failed
    kExitUsageError = 2,  // unknown word, missing value, bad value or no copy job
};

// How long keelswap waits and how often it retries. main() uses the values
// below; tests use small ones.
struct Timings {
    std::chrono::milliseconds processWaitLimit{120'000};  // wait for the caller to end
    std::chrono::milliseconds unopenedProcessPause{500};  // when the caller cannot be opened
    int copyAttempts = 240;                               // per copy job
    std::chrono::milliseconds copyRetryPause{500};        // after each failed attempt
};

struct RunContext {
    std::string ownExecutable;  // full path of the running keelswap; empty if unknown
    // This process's number. When it is the process to wait for, the caller
    // replaced itself with keelswap (a terminal program keeps its terminal):
    // there is nothing to wait for, and the restart replaces keelswap in turn.
    std::uint32_t ownPid = 0;
    Timings timings;
    // Every pause goes through here (std::this_thread::sleep_for when empty).
    std::function<void(std::chrono::milliseconds)> pause;
};

// Carries out one run: parse `args` (the arguments after the program name),
// wait for the process, do the copy jobs in order, remove the clean-up folder
// and start the command line. Messages go to `err`; returns the exit code.
// Single-threaded; nothing is kept between runs.
[[nodiscard]] int runKeelswap(const std::vector<std::string>& args, const RunContext& context, std::ostream& err);

}  // namespace mendly::keelswap
