#include "platform/file_update.h"
#include "platform/wide_text_win.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>

// The files are C runtime descriptors over Win32 handles (_open_osfhandle),
// so the object keeps the same members on every platform; reading and writing
// go to the handles directly, at explicit offsets.
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

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

bool writeAllAt(HANDLE file, const char* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        DWORD written = 0;
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(size, kCopyChunk));
        OVERLAPPED position = at(offset);
        if (!::WriteFile(file, data, piece, &written, &position) || written == 0) return false;
        data += written;
        size -= written;
        offset += written;
    }
    return true;
}

bool readAllAt(HANDLE file, char* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        DWORD read = 0;
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(size, kCopyChunk));
        OVERLAPPED position = at(offset);
        if (!::ReadFile(file, data, piece, &read, &position) || read == 0) return false;
        data += read;
        size -= read;
        offset += read;
    }
    return true;
}

void closeFd(int& fd) {
    if (fd >= 0) ::_close(fd);
    fd = -1;
}

}  // namespace

FileUpdate::~FileUpdate() {
    closeFd(sourceFd_);
    closeFd(fd_);
}

bool FileUpdate::open(const std::filesystem::path& path) {
    closeFd(fd_);
    written_ = 0;
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is then refused
    // below, instead of the file it names.
    fd_ = adopt(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                _O_RDWR | _O_BINARY);
    if (fd_ < 0) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handleOf(fd_), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        closeFd(fd_);
        return false;
    }
    return true;
}

bool FileUpdate::create(const std::filesystem::path& path) {
    closeFd(fd_);
    written_ = 0;
    // Whatever is at the name goes (a link is removed, never followed), then
    // the file is made exclusively: CREATE_NEW also refuses anything planted since.
    if (!::DeleteFileW(path.c_str())) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    }
    fd_ = adopt(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr),
                _O_RDWR | _O_BINARY);
    return fd_ >= 0;
}

std::optional<std::uint64_t> FileUpdate::size() const {
    LARGE_INTEGER size{};
    if (fd_ < 0 || !::GetFileSizeEx(handleOf(fd_), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool FileUpdate::hasOtherNames() const {
    BY_HANDLE_FILE_INFORMATION info{};
    return fd_ >= 0 && ::GetFileInformationByHandle(handleOf(fd_), &info) && info.nNumberOfLinks > 1;
}

bool FileUpdate::readAt(std::uint64_t offset, std::size_t count, std::string& bytes) {
    bytes.assign(count, '\0');
    return fd_ >= 0 && readAllAt(handleOf(fd_), bytes.data(), count, offset);
}

bool FileUpdate::writeAt(std::uint64_t offset, std::string_view bytes) {
    if (fd_ < 0) return false;
    written_ += bytes.size();
    return writeAllAt(handleOf(fd_), bytes.data(), bytes.size(), offset);
}

bool FileUpdate::copyFrom(const std::filesystem::path& source, std::uint64_t sourceOffset, std::uint64_t size,
                          std::uint64_t at) {
    if (fd_ < 0) return false;
    if (source != sourcePath_ || sourceFd_ < 0) {
        closeFd(sourceFd_);
        // Shared for writing too: the source may be the file this object writes.
        sourceFd_ = adopt(::CreateFileW(source.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr),
                          _O_RDONLY | _O_BINARY);
        sourcePath_ = source;
        if (sourceFd_ < 0) return false;
    }
    if (!buffer_) buffer_.reset(new char[kCopyChunk]);
    written_ += size;
    while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, kCopyChunk));
        if (!readAllAt(handleOf(sourceFd_), buffer_.get(), piece, sourceOffset)) return false;
        if (!writeAllAt(handleOf(fd_), buffer_.get(), piece, at)) return false;
        sourceOffset += piece;
        at += piece;
        size -= piece;
    }
    return true;
}

bool FileUpdate::truncate(std::uint64_t size) {
    if (fd_ < 0) return false;
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    const HANDLE file = handleOf(fd_);
    return ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

bool FileUpdate::flush() { return fd_ >= 0 && ::FlushFileBuffers(handleOf(fd_)); }

void FileUpdate::startWriteBack(std::uint64_t, std::uint64_t) {}

bool FileUpdate::close() {
    closeFd(sourceFd_);
    sourcePath_.clear();
    if (fd_ < 0) return false;
    const int rc = ::_close(fd_);
    fd_ = -1;
    return rc == 0;
}

void flushFolder(const std::filesystem::path&) {}

}  // namespace mendly::platform
