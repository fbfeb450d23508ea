#include "os.h"

#include <cstdlib>
#include <dirent.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

namespace mendly::keelswap::os {

namespace {

using Clock = std::chrono::steady_clock;

// A process that has ended but not yet been reaped by its parent still
// answers kill(pid, 0); its state letter in /proc tells it apart.
bool isZombie(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

bool isRunning(pid_t pid) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return false;
    return !isZombie(pid);
}

ProcessWait probeUntilEnded(pid_t pid, std::chrono::milliseconds limit) {
    if (!isRunning(pid)) return ProcessWait::NotOpened;
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!isRunning(pid)) return ProcessWait::Ended;
    }
    return ProcessWait::TimedOut;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool copyContents(int from, int to) {
    char buffer[64 * 1024];
    while (true) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return true;
        if (!writeAll(to, buffer, static_cast<std::size_t>(got))) return false;
    }
}

// The file that a replacement should land on: the destination itself, or the
// file a link there points to.
std::string resolveDestination(const std::string& destination) {
    struct stat st {};
    if (::lstat(destination.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return destination;
    std::error_code ec;
    const auto resolved = std::filesystem::weakly_canonical(destination, ec);
    return ec ? destination : resolved.string();
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close (the last chance to see a
    // write error) succeeded.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

}  // namespace

std::string ownExecutablePath() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

ProcessWait waitForProcessExit(std::uint32_t pid, std::chrono::milliseconds limit) {
    // Identifiers beyond pid_t's range name no process here.
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return ProcessWait::NotOpened;
    const auto target = static_cast<pid_t>(pid);

    const long fd = ::syscall(SYS_pidfd_open, target, 0);
    if (fd < 0) {
        if (errno == ENOSYS || errno == EPERM) return probeUntilEnded(target, limit);
        return ProcessWait::NotOpened;
    }
    FileDescriptor pidfd(static_cast<int>(fd));
    const auto deadline = Clock::now() + limit;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return ProcessWait::TimedOut;
        pollfd entry{pidfd.get(), POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (ready > 0) return ProcessWait::Ended;
        if (ready == 0) return ProcessWait::TimedOut;
        if (errno != EINTR) return ProcessWait::TimedOut;
    }
}

bool isSameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool replaceWithCopy(const std::string& source, const std::string& destination) {
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return false;
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

    const std::filesystem::path target = resolveDestination(destination);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string temp = (folder / ("." + target.filename().string() + ".keelswap-XXXXXX")).string();
    FileDescriptor out(::mkostemp(temp.data(), O_CLOEXEC));
    if (out.get() < 0) return false;

    const bool copied = ::fchmod(out.get(), st.st_mode & 07777) == 0 && copyContents(in.get(), out.get()) &&
                        ::fsync(out.get()) == 0;
    const bool closed = out.close();
    if (!copied || !closed || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool removeTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    return !ec;
}

bool spawnDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) return false;
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const auto& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) return false;
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t child = 0;
    const bool started = ::posix_spawnp(&child, pointers.front(), &actions, nullptr, pointers.data(), environ) == 0;
    ::posix_spawn_file_actions_destroy(&actions);
    return started;
}

namespace {

// Every descriptor above standard error is closed by the coming exec, whoever
// opened it (a library's sockets, a log): the next program starts with 0-2.
// close_range does it in one call; kernels before 5.11 lack it, and then each
// open descriptor listed in /proc/self/fd is marked.
void closeDescriptorsOnExec() {
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder) return;
    const int own = ::dirfd(folder);
    while (const dirent* item = ::readdir(folder)) {
        char* end = nullptr;
        const long fd = std::strtol(item->d_name, &end, 10);
        if (end == item->d_name || *end != '\0' || fd <= 2 || fd == own) continue;
        const int flags = ::fcntl(static_cast<int>(fd), F_GETFD);
        if (flags >= 0) ::fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
    }
    ::closedir(folder);
}

}  // namespace

bool replaceProcess(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) return false;
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const auto& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);
    closeDescriptorsOnExec();
    ::execvp(pointers.front(), pointers.data());
    return false;
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

void ensureStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

}  // namespace mendly::keelswap::os
