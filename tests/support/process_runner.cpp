#include "support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

extern char** environ;

namespace mendly::test {
namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    bool open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
    static void closeFd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    ~Pipe() {
        closeFd(read);
        closeFd(write);
    }
};

std::vector<std::string> mergedEnvironment(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        const auto eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : extra) vars[name] = value;
    std::vector<std::string> out;
    for (const auto& [name, value] : vars) out.push_back(name + "=" + value);
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Reads what is there; false once the pipe reached its end or failed.
bool drain(int fd, std::string& into) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

}  // namespace

ProcessResult runProcess(const std::filesystem::path& program, const ProcessOptions& options) {
    ProcessResult result;
    Pipe out, err;
    if (!out.open() || !err.open()) return result;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());

    // Own process group, so the time limit can end grandchildren too; default
    // signal dispositions and an empty mask whatever the test runner set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> argStrings{program.string()};
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
    std::vector<std::string> envStrings = mergedEnvironment(options.env);
    std::vector<char*> argv = pointers(argStrings);
    std::vector<char*> envp = pointers(envStrings);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    Pipe::closeFd(out.write);
    Pipe::closeFd(err.write);
    if (rc != 0) return result;
    result.started = true;

    const auto deadline = std::chrono::steady_clock::now() + options.timeLimit;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                 std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(-pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{out.read, outOpen ? short(POLLIN) : short(0), 0},
                         {err.read, errOpen ? short(POLLIN) : short(0), 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) break;
        if (outOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) outOpen = drain(out.read, result.out);
        if (errOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) errOpen = drain(err.read, result.err);
    }

    // Both pipes closed: the child has (almost always) exited. Wait for it,
    // still within the time limit.
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, result.timedOut ? 0 : WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return result;
        if (done == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                result.timedOut = true;
                ::kill(-pid, SIGKILL);
            } else {
                ::usleep(2000);
            }
        }
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

}  // namespace mendly::test
