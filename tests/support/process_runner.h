#pragma once
// Runs a program as a child process for tests: arguments, optional extra
// environment and working folder, stdout and stderr captured separately, and a
// time limit after which the child's whole process group is killed, so a test
// never hangs. Standard input is /dev/null.
#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace mendly::test {

struct ProcessOptions {
    std::vector<std::string> args;  // after the program name
    // Added to (or replacing) variables of this process's environment.
    std::vector<std::pair<std::string, std::string>> env;
    std::filesystem::path workingDirectory;  // empty: this process's
    std::chrono::milliseconds timeLimit{30'000};
};

struct ProcessResult {
    bool started = false;   // false: the program could not be started at all
    bool timedOut = false;  // killed after the time limit
    int exitCode = -1;      // the exit status; -1 when ended by a signal
    int signal = 0;         // the ending signal, 0 when it exited
    std::string out;        // everything written to stdout, as bytes
    std::string err;        // everything written to stderr, as bytes
};

ProcessResult runProcess(const std::filesystem::path& program, const ProcessOptions& options = {});

}  // namespace mendly::test
