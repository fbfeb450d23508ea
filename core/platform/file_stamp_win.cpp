#include "platform/file_stamp.h"
#include "platform/wide_text_win.h"

namespace mendly::platform {
namespace {

// FILETIME counts 100 ns steps from 1601-01-01; 11644473600 s lie between
// that and 1970-01-01.
constexpr std::int64_t kFileTimeToUnixSteps = 116444736000000000LL;

std::uint64_t joined(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

}  // namespace

std::optional<FileStamp> fileStamp(const std::filesystem::path& path) {
    ScopedHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
    FileStamp stamp;
    stamp.size = joined(info.nFileSizeHigh, info.nFileSizeLow);
    const auto steps =
        static_cast<std::int64_t>(joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
    stamp.mtimeNs = (steps - kFileTimeToUnixSteps) * 100;
    stamp.fileId = joined(info.nFileIndexHigh, info.nFileIndexLow);
    stamp.volumeId = info.dwVolumeSerialNumber;
    return stamp;
}

}  // namespace mendly::platform
