#include "child_process_testing.h"

#include "temp_folder_testing.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace mendly::keelswap::testing {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder,
                           const std::filesystem::path& stderrFile) {
    std::vector<char*> pointers;
    for (const auto& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    if (!stderrFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, pointers.front(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << argv.front() << ": error " << rc;
        return;
    }
    pid_ = pid;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
}

bool ChildProcess::hasEnded() {
    if (pid_ <= 0 || reaped_) return true;
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
}

int ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!hasEnded()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ADD_FAILURE() << "child " << pid_ << " did not end within " << limit.count() << " ms; killed";
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
            reaped_ = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid_ <= 0) return -1;
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

ProgramResult runProgram(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder,
                         std::chrono::milliseconds limit) {
    TempFolder capture;
    const auto stderrFile = capture.path() / "stderr.txt";
    ChildProcess child(argv, workingFolder, stderrFile);
    ProgramResult result;
    result.exitCode = child.waitForExit(limit);
    result.errorOutput = readBytes(stderrFile);
    return result;
}

bool waitForFile(const std::filesystem::path& path, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::error_code ec;
    while (!std::filesystem::exists(path, ec)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace mendly::keelswap::testing
