#pragma once
// Changing a file where it is: positioned reads and writes, ranges of other
// files copied to a position, truncating, and flushing to the disk itself.
// For updates that must survive a crash at any moment, which write a little
// of a large file and need to know when their bytes are on the disk.
// POSIX: file_update_posix.cpp (pread/pwrite, ftruncate, fsync).
// Windows: file_update_win.cpp (ReadFile/WriteFile at offsets, SetEndOfFile,
// FlushFileBuffers).
//
// Threads: one owner; not copyable. Offsets and sizes are bytes from the
// start of the file.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace mendly::platform {

class FileUpdate {
public:
    FileUpdate() = default;
    ~FileUpdate();
    FileUpdate(const FileUpdate&) = delete;
    FileUpdate& operator=(const FileUpdate&) = delete;

    // Opens the existing regular file at `path` for reading and writing. False
    // when there is none, when the name is a link (never followed) or not a
    // regular file, or when it cannot be opened for writing (read-only, in use
    // without sharing on Windows).
    [[nodiscard]] bool open(const std::filesystem::path& path);
    // Creates `path` as a new, empty file for reading and writing: whatever
    // was at the name (a stale file, a link, which is never followed) is
    // removed first. False when it cannot (a folder at the name, no permission).
    [[nodiscard]] bool create(const std::filesystem::path& path);

    // The file's size now, or nothing when it is not open or cannot be asked.
    std::optional<std::uint64_t> size() const;
    // True when the open file has more names than the one it was opened by
    // (hard links), so that writing it in place would change those as well.
    bool hasOtherNames() const;

    // Reads exactly `count` bytes at `offset` into `bytes`. False when the
    // file ends before or reading fails.
    [[nodiscard]] bool readAt(std::uint64_t offset, std::size_t count, std::string& bytes);
    // Writes all of `bytes` at `offset`, growing the file as needed (a gap
    // before `offset` reads as zero bytes). False when writing failed (the
    // disk is full, ...); part of the bytes may have been written.
    [[nodiscard]] bool writeAt(std::uint64_t offset, std::string_view bytes);
    // Copies `size` bytes of `source` from `sourceOffset` to `at` in this
    // file. False when the source cannot be read in full or writing failed.
    // The last source stays open until another one is named or this object
    // is closed; the source may be this file itself (a second handle reads it).
    [[nodiscard]] bool copyFrom(const std::filesystem::path& source, std::uint64_t sourceOffset, std::uint64_t size,
                                std::uint64_t at);
    // Cuts or extends the file to `size` bytes.
    [[nodiscard]] bool truncate(std::uint64_t size);
    // Returns once every byte written so far, and the file's size, are on the
    // disk (not only in the system's cache).
    [[nodiscard]] bool flush();
    // Asks the system to start writing `size` bytes from `offset` to the disk
    // now, without waiting for them, so that a later flush() has less left to
    // wait for. A hint: POSIX sync_file_range where there is one; nothing on
    // Windows, whose cache writes behind on its own.
    void startWriteBack(std::uint64_t offset, std::uint64_t size);
    // Closes the file; false when a write could not be completed (some file
    // systems report failed delayed writes only here).
    [[nodiscard]] bool close();

    // Bytes handed to writeAt and copyFrom since the file was opened.
    std::uint64_t bytesWritten() const { return written_; }

private:
    int fd_ = -1;
    int sourceFd_ = -1;
    std::filesystem::path sourcePath_;
    std::unique_ptr<char[]> buffer_;  // the copy buffer, made on first use
    std::uint64_t written_ = 0;
};

// Makes the creation, renaming and removal of names in `folder` durable, as
// flush() does for a file's bytes. POSIX: the folder is synced. Windows: does
// nothing (NTFS commits its own name changes to its log). Errors are ignored:
// the names are changed either way, only their order on the disk is at stake.
void flushFolder(const std::filesystem::path& folder);

}  // namespace mendly::platform
