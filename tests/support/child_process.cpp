#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace mendly::test {

ChildProcess::~ChildProcess() {
    if (pid() != 0) {
        kill();
        wait(std::chrono::seconds(10));
    }
}

bool ChildProcess::start(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workingDirectory, const std::filesystem::path& outputFile) {
    if (pid() != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (!workingDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> strings{program.string()};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_t child = 0;
    const int rc = ::posix_spawn(&child, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    const std::lock_guard lock(mutex_);
    pid_.store(child);
    return true;
}

bool ChildProcess::kill() {
    const std::lock_guard lock(mutex_);
    const pid_t child = pid_.load();
    if (child == 0) return false;
    // Until it is reaped the identifier cannot be reused, so this reaches the
    // child (or its zombie) and whatever it started in its group.
    return ::kill(-child, SIGKILL) == 0 || ::kill(child, SIGKILL) == 0;
}

ChildOutcome ChildProcess::wait(std::chrono::milliseconds limit) {
    ChildOutcome outcome;
    const pid_t child = pid();
    if (child == 0) return outcome;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        siginfo_t info{};
        // Look without reaping; the zombie keeps the identifier ours.
        const int rc = ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT);
        if (rc == 0 && info.si_pid == child) break;
        if (rc != 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= deadline && !outcome.timedOut) {
            outcome.timedOut = true;
            kill();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::lock_guard lock(mutex_);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    pid_.store(0);
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

}  // namespace mendly::test
