#include "platform/file_output.h"
#include "platform/wide_text_win.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>

// The files are C runtime descriptors over Win32 handles (_open_osfhandle),
// so the object keeps the same members on every platform; reading and writing
// go to the handles directly.
namespace mendly::platform {
namespace {

constexpr std::size_t kCopyChunk = 1u << 20;

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

// A descriptor owning `handle`, or -1 (with the handle closed) when the
// runtime has no descriptor left.
int adopt(HANDLE handle, int flags) {
    if (handle == INVALID_HANDLE_VALUE) return -1;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0) ::CloseHandle(handle);
    return fd;
}

bool writeAll(HANDLE file, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(size, kCopyChunk));
        if (!::WriteFile(file, data, piece, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Reads at `offset` without moving a shared file position.
bool copyThroughBuffer(HANDLE in, std::uint64_t offset, std::uint64_t size, HANDLE out, char* buffer) {
    while (size > 0) {
        const auto piece = static_cast<DWORD>(std::min<std::uint64_t>(size, kCopyChunk));
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        if (!::ReadFile(in, buffer, piece, &read, &at) || read == 0) return false;
        if (!writeAll(out, buffer, read)) return false;
        offset += read;
        size -= read;
    }
    return true;
}

void closeFd(int& fd) {
    if (fd >= 0) ::_close(fd);
    fd = -1;
}

}  // namespace

FileOutput::~FileOutput() {
    closeFd(sourceFd_);
    closeFd(fd_);
}

bool FileOutput::create(const std::filesystem::path& path) {
    closeFd(fd_);
    // Whatever is at the name goes (a link is removed, never followed), then
    // the file is made exclusively: CREATE_NEW also refuses anything planted since.
    if (!::DeleteFileW(path.c_str())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    }
    fd_ = adopt(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr),
                _O_WRONLY | _O_BINARY);
    return fd_ >= 0;
}

bool FileOutput::write(std::string_view bytes) { return fd_ >= 0 && writeAll(handleOf(fd_), bytes.data(), bytes.size()); }

bool FileOutput::appendFrom(const std::filesystem::path& source, std::uint64_t offset, std::uint64_t size) {
    if (fd_ < 0) return false;
    if (source != sourcePath_ || sourceFd_ < 0) {
        closeFd(sourceFd_);
        sourceFd_ = adopt(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
                          _O_RDONLY | _O_BINARY);
        sourcePath_ = source;
        if (sourceFd_ < 0) return false;
    }
    if (!buffer_) buffer_.reset(new char[kCopyChunk]);
    return copyThroughBuffer(handleOf(sourceFd_), offset, size, handleOf(fd_), buffer_.get());
}

bool FileOutput::flush() { return fd_ >= 0 && ::FlushFileBuffers(handleOf(fd_)); }

bool FileOutput::close() {
    closeFd(sourceFd_);
    sourcePath_.clear();
    if (fd_ < 0) return false;
    const int rc = ::_close(fd_);
    fd_ = -1;
    return rc == 0;
}

}  // namespace mendly::platform
