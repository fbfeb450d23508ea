#include "support/file_text_wait.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>

#include "support/temp_dir.h"

namespace mendly::test {

bool waitForFileText(const std::filesystem::path& file, std::string_view text, std::chrono::milliseconds timeout) {
    const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0) return false;
    const bool watched = inotify_add_watch(fd, file.c_str(), IN_MODIFY | IN_CLOSE_WRITE) >= 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool found = false;
    // The watch is set before the first read, so no write goes unseen.
    while (watched && !(found = readFile(file).find(text) != std::string::npos)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
        std::array<char, 4096> events{};
        while (::read(fd, events.data(), events.size()) > 0) {
        }
    }
    ::close(fd);
    return found;
}

}  // namespace mendly::test
