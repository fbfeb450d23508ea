#pragma once
// Tests only: a dbus-daemon of the test's own, for the task-bar progress
// signal. address() is its bus address, or empty when none could be started;
// the daemon ends with the object.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace mendly::testing_bus {

class PrivateBus {
public:
    PrivateBus() {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address", nullptr);
            _exit(127);
        }
        close(out[1]);
        char buffer[512];
        const ssize_t n = read(out[0], buffer, sizeof buffer - 1);
        close(out[0]);
        if (n > 0) address_.assign(buffer, static_cast<std::size_t>(n));
        while (!address_.empty() && (address_.back() == '\n' || address_.back() == ' ')) address_.pop_back();
    }
    ~PrivateBus() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace mendly::testing_bus
