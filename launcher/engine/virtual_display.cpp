#include "virtual_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace mendly::test {

bool VirtualDisplay::start() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);

    std::vector<std::string> args = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x800x24",
                                     "-nolisten", "tcp", "-noreset"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // fork + exec rather than posix_spawn: the server must end with the test
    // process even when that one is killed (PR_SET_PDEATHSIG).
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) ::dup2(devNull, 2);
        ::execvp("Xvfb", argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid_ < 0) {
        ::close(fds[0]);
        return false;
    }

    // Xvfb writes the display number and a line feed once it is ready.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        char c = 0;
        if (::read(fds[0], &c, 1) != 1) break;
        if (c == '\n') break;
        number.push_back(c);
    }
    ::close(fds[0]);
    if (number.empty()) return false;
    name_ = ":" + number;
    return true;
}

VirtualDisplay::~VirtualDisplay() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

}  // namespace mendly::test
