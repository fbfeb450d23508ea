#pragma once
// Writing one new file from pieces: bytes from memory and ranges of other
// files, copied through one 1 MiB buffer with positioned reads.
// POSIX: file_output_posix.cpp. Windows: file_output_win.cpp (ReadFile/WriteFile).
//
// Threads: one owner; not copyable.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

namespace mendly::platform {

class FileOutput {
public:
    FileOutput() = default;
    ~FileOutput();
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    // Creates `path` as a new file: whatever was at that name (a stale file, a
    // link, which is never followed) is removed first. False when it cannot
    // (a folder at the name, no permission, something planted meanwhile).
    [[nodiscard]] bool create(const std::filesystem::path& path);
    // Appends bytes. False when writing failed (the disk is full, ...).
    [[nodiscard]] bool write(std::string_view bytes);
    // Appends `size` bytes of `source` starting at `offset`. False when the
    // source cannot be read in full or writing failed. The last source stays
    // open until another one is named or this object is closed.
    [[nodiscard]] bool appendFrom(const std::filesystem::path& source, std::uint64_t offset, std::uint64_t size);
    // Returns once every byte written so far is on the disk itself (not only
    // in the system's cache): before the file is renamed over another.
    [[nodiscard]] bool flush();
    // Closes the file; false when a write could not be completed.
    [[nodiscard]] bool close();

private:
    int fd_ = -1;
    int sourceFd_ = -1;
    std::filesystem::path sourcePath_;
    std::unique_ptr<char[]> buffer_;  // kCopyChunk bytes, made on first use
};

}  // namespace mendly::platform
