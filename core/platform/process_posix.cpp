#include "platform/process.h"

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>

extern char** environ;

namespace mendly::platform {

std::filesystem::path executablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return p;
}

bool isDebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            for (char c : line.substr(10))
                if (c >= '1' && c <= '9') return true;
            return false;
        }
    }
    return false;
}

std::vector<std::string> processArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    std::string current;
    for (char c : all) {
        if (c == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) args.push_back(current);
    return args;
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

bool isExecutableFile(const std::filesystem::path& path) { return ::access(path.c_str(), X_OK) == 0; }

void ensureStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is `fd` itself, the ones below being open.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

bool spawnDetached(const std::vector<std::string>& argv, const std::filesystem::path& workingFolder) {
    if (argv.empty()) return false;
    // The child changes to workingFolder before it runs the program: a
    // relative program path must name the file it names here.
    std::error_code absoluteError;
    const std::string program =
        argv[0].empty() || argv[0][0] == '/' ? argv[0] : std::filesystem::absolute(argv[0], absoluteError).string();
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    args.push_back(const_cast<char*>(program.c_str()));
    for (std::size_t i = 1; i < argv.size(); ++i) args.push_back(const_cast<char*>(argv[i].c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    // Only standard input, output and error reach the child.
    if (posix_spawn_file_actions_addclosefrom_np(&actions, 3) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    if (!workingFolder.empty() &&
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child must not inherit a blocked or ignored SIGINT/SIGQUIT from a
    // program that is about to exit.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
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
    if (argv.empty() || argv[0].empty()) return false;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    closeDescriptorsOnExec();
    ::execv(args[0], args.data());
    return false;
}

bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    // Another file system: copy beside the target, then rename into place.
    std::error_code ec;
    auto temp = to;
    temp += ".moving";
    std::filesystem::copy_file(from, temp, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec || ::rename(temp.c_str(), to.c_str()) != 0) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    std::filesystem::remove(from, ec);
    return true;
}

}  // namespace mendly::platform
