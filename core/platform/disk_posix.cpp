#include "platform/disk.h"

#include <sys/statvfs.h>

namespace mendly::platform {

std::optional<std::uint64_t> freeDiskSpace(const std::filesystem::path& path) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * static_cast<std::uint64_t>(info.f_frsize);
}

}  // namespace mendly::platform
