#pragma once
// Disk services at task level.
// POSIX: disk_posix.cpp (statvfs). Windows: disk_win.cpp (GetDiskFreeSpaceExW).
#include <cstdint>
#include <filesystem>
#include <optional>

namespace mendly::platform {

// Bytes an unprivileged writer may still use on the volume holding `path`
// (which must exist); nothing when it cannot be asked. Safe from any thread.
std::optional<std::uint64_t> freeDiskSpace(const std::filesystem::path& path);

}  // namespace mendly::platform
