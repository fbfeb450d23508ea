#pragma once
// A program started as a child process that the test controls while it runs:
// it can be killed at any moment (SIGKILL to its whole process group, from any
// thread) and waited for. Standard output and error go to one file, which
// stays readable after the child is gone, so a test can see how far the child
// got before it was killed. Standard input is /dev/null.
//
// Threads: start() and wait() belong to the test's thread; pid() and kill()
// may be called from any thread (a server handler, a file-event watcher).
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

namespace mendly::test {

struct ChildOutcome {
    bool exited = false;   // true: ended by exit(), exitCode is valid
    int exitCode = -1;
    int signal = 0;        // the ending signal when it did not exit
    bool timedOut = false; // wait() gave up and killed it
};

class ChildProcess {
public:
    ChildProcess() = default;
    // Kills a child that is still running and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `args` in `workingDirectory` (empty: this
    // process's), in a process group of its own, with output to `outputFile`
    // (created or truncated). False when it could not be started.
    [[nodiscard]] bool start(const std::filesystem::path& program, const std::vector<std::string>& args,
                             const std::filesystem::path& workingDirectory, const std::filesystem::path& outputFile);

    // 0 before start() and after wait().
    pid_t pid() const { return pid_.load(); }

    // Sends SIGKILL to the child's process group; true when it was still
    // there to receive it. Safe to call more than once and after it ended.
    bool kill();

    // Waits for the child to end, at most `limit` (then kills it).
    ChildOutcome wait(std::chrono::milliseconds limit);

private:
    // Held while the child is reaped and while it is signalled, so that a
    // kill() never reaches another process that reused the identifier.
    mutable std::mutex mutex_;
    std::atomic<pid_t> pid_{0};
};

}  // namespace mendly::test
