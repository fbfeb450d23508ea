#pragma once
// Reading and writing POSIX descriptors, for the platform layer's own files
// only: the retry loops (signals, short transfers) in one place.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

// Writes all of `bytes` at `offset` (pwrite), retrying like writeToDescriptor.
inline bool writeToDescriptorAt(int fd, std::string_view bytes, std::uint64_t offset) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

// Reads exactly `size` bytes at `offset` (pread) into `data`. False on an
// error or when the file ends first.
inline bool readFromDescriptorAt(int fd, char* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

// Closes `fd` when it is open and marks it closed (-1).
inline void closeDescriptor(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace mendly::platform
