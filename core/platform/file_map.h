#pragma once
// A file's bytes mapped read-only into memory: the pages are the file's own
// (the page cache), not the process's anonymous memory, so a large file can
// be read as one range without holding a copy. Made for reading the whole
// file: on POSIX every page is mapped when it is opened (MAP_POPULATE).
// POSIX: file_map_posix.cpp (mmap). Windows: file_map_win.cpp
// (CreateFileMapping, MapViewOfFile).
//
// The file must not shrink while it is mapped (reading past its new end
// faults); map only files this program alone writes while it holds them.
//
// Threads: one owner; bytes() may be read from any thread while it lives.
#include <cstddef>
#include <filesystem>
#include <string_view>

namespace mendly::platform {

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the regular file at `path` (a link at the name is not followed).
    // False when it cannot be opened or mapped. An empty file maps to no
    // bytes and is true.
    [[nodiscard]] bool open(const std::filesystem::path& path);
    std::string_view bytes() const { return {static_cast<const char*>(data_), size_}; }

private:
    void close();

    const void* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace mendly::platform
