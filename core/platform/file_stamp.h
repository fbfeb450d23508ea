#pragma once
// What a file looks like from outside, without reading it: its size, the time
// it was last written and the file system's number for it. Two equal stamps
// taken at different times mean the file was (almost certainly) not written
// in between: a write changes the modification time, a replacement by rename
// changes the file number even when the time is set back.
// POSIX: file_stamp_posix.cpp (stat). Windows: file_stamp_win.cpp
// (GetFileInformationByHandle).
//
// Threads: independent calls, any thread.
#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace mendly::platform {

struct FileStamp {
    std::uint64_t size = 0;     // bytes
    std::int64_t mtimeNs = 0;   // last write, nanoseconds since 1970-01-01 UTC
    std::uint64_t fileId = 0;   // inode (POSIX) or file index (Windows)
    std::uint64_t volumeId = 0; // device (POSIX) or volume serial number (Windows)

    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the regular file at `path` (a link is followed), or nothing
// when there is none (missing, a folder, unreadable). Never throws.
std::optional<FileStamp> fileStamp(const std::filesystem::path& path);

}  // namespace mendly::platform
