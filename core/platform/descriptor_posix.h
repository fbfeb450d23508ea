#pragma once
// Writing to a POSIX descriptor, for the platform layer's own files only.
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace mendly::platform {

// Writes all of `bytes`, retrying after signals and short writes. False when
// the descriptor would take no more (a full disk, a reader that went away).
inline bool writeToDescriptor(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace mendly::platform
