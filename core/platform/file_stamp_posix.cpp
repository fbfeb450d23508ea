#include "platform/file_stamp.h"

#include <sys/stat.h>

namespace mendly::platform {

std::optional<FileStamp> fileStamp(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    FileStamp stamp;
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.mtimeNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    stamp.fileId = static_cast<std::uint64_t>(info.st_ino);
    stamp.volumeId = static_cast<std::uint64_t>(info.st_dev);
    return stamp;
}

}  // namespace mendly::platform
