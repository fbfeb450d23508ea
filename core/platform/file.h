#pragma once
// Whole small files: reading them, and replacing them safely. The one home of
// the temporary-name rule and of replacing a file by rename.
// The OS-neutral half: file.cpp. The OS calls: file_posix.cpp, file_win.cpp
// (MoveFileExW, FlushFileBuffers).
//
// Threads: every function is independent and may run on any thread; two
// programs may replace the same file at once (the last rename wins, neither
// ever leaves a torn file).
#include <filesystem>
#include <string>
#include <string_view>

namespace mendly::platform {

enum class FileRead { Missing, Unreadable, Read };

// Read (possibly with no bytes) when every byte of `path` is in `bytes`; a
// folder, a file that vanishes or a read error is Unreadable. Never throws.
FileRead readWholeFile(const std::filesystem::path& path, std::string& bytes);

// A name beside `path` that no other writer picks: "<name>.<pid>-<n>.tmp".
std::filesystem::path temporaryNameFor(const std::filesystem::path& path);

enum class FileWrite {
    Written,
    CannotWrite,  // the file is read-only or not a file, or its folder cannot be written
    ShortWrite,   // the data could not be written or flushed whole (a full disk); the file is unchanged
};

// Replaces the contents of `path` with `bytes`: written to a temporary file
// in the same folder, flushed to disk, renamed over the file and the folder
// flushed, so that a crash leaves the old file or the new one, never a mix.
// A link at `path` is followed: the file it points to is replaced in its own
// folder and the link stays. An existing file keeps its permissions; a file
// or folder that is read-only (for this process, or without any write
// permission, which the superuser is held to as well) is not replaced.
// Missing folders are not created.
FileWrite replaceWholeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace mendly::platform
