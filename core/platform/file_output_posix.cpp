#include "platform/file_output.h"
#include "platform/descriptor_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace mendly::platform {
namespace {

constexpr std::size_t kCopyChunk = 1u << 20;

bool writeAll(int fd, const char* data, std::size_t size) { return writeToDescriptor(fd, std::string_view(data, size)); }

// Positioned reads into one buffer. (In-kernel copy_file_range measured no
// faster for archive entries, which are mostly small separate ranges.)
bool copyThroughBuffer(int in, std::uint64_t offset, std::uint64_t size, int out, char* buffer) {
    while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, kCopyChunk));
        const ssize_t n = ::pread(in, buffer, piece, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (!writeAll(out, buffer, static_cast<std::size_t>(n))) return false;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::uint64_t>(n);
    }
    return true;
}

}  // namespace

FileOutput::~FileOutput() {
    closeDescriptor(sourceFd_);
    closeDescriptor(fd_);
}

bool FileOutput::create(const std::filesystem::path& path) {
    closeDescriptor(fd_);
    // Whatever is at the name goes (a link is removed, never followed), then
    // the file is made exclusively: O_EXCL also refuses a link planted since.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool FileOutput::write(std::string_view bytes) { return fd_ >= 0 && writeAll(fd_, bytes.data(), bytes.size()); }

bool FileOutput::appendFrom(const std::filesystem::path& source, std::uint64_t offset, std::uint64_t size) {
    if (fd_ < 0) return false;
    if (source != sourcePath_ || sourceFd_ < 0) {
        closeDescriptor(sourceFd_);
        sourceFd_ = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
        sourcePath_ = source;
        if (sourceFd_ < 0) return false;
    }
    if (!buffer_) buffer_.reset(new char[kCopyChunk]);
    return copyThroughBuffer(sourceFd_, offset, size, fd_, buffer_.get());
}

bool FileOutput::flush() {
    if (fd_ < 0) return false;
    while (::fsync(fd_) != 0)
        if (errno != EINTR) return false;
    return true;
}

bool FileOutput::close() {
    closeDescriptor(sourceFd_);
    sourcePath_.clear();
    if (fd_ < 0) return false;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

}  // namespace mendly::platform
