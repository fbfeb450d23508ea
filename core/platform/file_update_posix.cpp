#include "platform/file_update.h"
#include "platform/descriptor_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace mendly::platform {
namespace {

constexpr std::size_t kCopyChunk = 1u << 20;

}  // namespace

FileUpdate::~FileUpdate() {
    closeDescriptor(sourceFd_);
    closeDescriptor(fd_);
}

bool FileUpdate::open(const std::filesystem::path& path) {
    closeDescriptor(fd_);
    written_ = 0;
    fd_ = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        closeDescriptor(fd_);
        return false;
    }
    return true;
}

bool FileUpdate::create(const std::filesystem::path& path) {
    closeDescriptor(fd_);
    written_ = 0;
    // Whatever is at the name goes (a link is removed, never followed), then
    // the file is made exclusively: O_EXCL also refuses a link planted since.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

std::optional<std::uint64_t> FileUpdate::size() const {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.st_size);
}

bool FileUpdate::hasOtherNames() const {
    struct stat info {};
    return fd_ >= 0 && ::fstat(fd_, &info) == 0 && info.st_nlink > 1;
}

bool FileUpdate::readAt(std::uint64_t offset, std::size_t count, std::string& bytes) {
    bytes.assign(count, '\0');
    return fd_ >= 0 && readFromDescriptorAt(fd_, bytes.data(), count, offset);
}

bool FileUpdate::writeAt(std::uint64_t offset, std::string_view bytes) {
    if (fd_ < 0) return false;
    written_ += bytes.size();
    return writeToDescriptorAt(fd_, bytes, offset);
}

bool FileUpdate::copyFrom(const std::filesystem::path& source, std::uint64_t sourceOffset, std::uint64_t size,
                          std::uint64_t at) {
    if (fd_ < 0) return false;
    if (source != sourcePath_ || sourceFd_ < 0) {
        closeDescriptor(sourceFd_);
        sourceFd_ = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
        sourcePath_ = source;
        if (sourceFd_ < 0) return false;
    }
    if (!buffer_) buffer_.reset(new char[kCopyChunk]);
    written_ += size;
    while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, kCopyChunk));
        if (!readFromDescriptorAt(sourceFd_, buffer_.get(), piece, sourceOffset)) return false;
        if (!writeToDescriptorAt(fd_, std::string_view(buffer_.get(), piece), at)) return false;
        sourceOffset += piece;
        at += piece;
        size -= piece;
    }
    return true;
}

bool FileUpdate::truncate(std::uint64_t size) {
    if (fd_ < 0) return false;
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        if (errno != EINTR) return false;
    return true;
}

bool FileUpdate::flush() {
    if (fd_ < 0) return false;
    while (::fsync(fd_) != 0)
        if (errno != EINTR) return false;
    return true;
}

void FileUpdate::startWriteBack(std::uint64_t offset, std::uint64_t size) {
#ifdef SYNC_FILE_RANGE_WRITE
    if (fd_ >= 0)
        (void)::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)size;
#endif
}

bool FileUpdate::close() {
    closeDescriptor(sourceFd_);
    sourcePath_.clear();
    if (fd_ < 0) return false;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

void flushFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace mendly::platform
