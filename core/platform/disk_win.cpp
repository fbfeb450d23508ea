#include "platform/disk.h"

#include <windows.h>

namespace mendly::platform {

std::optional<std::uint64_t> freeDiskSpace(const std::filesystem::path& path) {
    // The call wants a folder; a file's own folder is on the same volume.
    std::error_code ec;
    const std::filesystem::path folder =
        std::filesystem::is_directory(path, ec) || !path.has_parent_path() ? path : path.parent_path();
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return static_cast<std::uint64_t>(available.QuadPart);
}

}  // namespace mendly::platform
