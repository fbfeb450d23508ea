#include "platform/file_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace mendly::platform {
namespace {

constexpr std::size_t kCopyChunk = 1u << 20;

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Through this process, for file systems without in-kernel copies.
bool copyThroughBuffer(int in, std::uint64_t offset, std::uint64_t size, int out) {
    std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
    while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, kCopyChunk));
        const ssize_t n = ::pread(in, buffer.get(), piece, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (!writeAll(out, buffer.get(), static_cast<std::size_t>(n))) return false;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::uint64_t>(n);
    }
    return true;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

FileOutput::~FileOutput() {
    closeFd(sourceFd_);
    closeFd(fd_);
}

bool FileOutput::create(const std::filesystem::path& path) {
    closeFd(fd_);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool FileOutput::write(std::string_view bytes) { return fd_ >= 0 && writeAll(fd_, bytes.data(), bytes.size()); }

bool FileOutput::appendFrom(const std::filesystem::path& source, std::uint64_t offset, std::uint64_t size) {
    if (fd_ < 0) return false;
    if (source != sourcePath_ || sourceFd_ < 0) {
        closeFd(sourceFd_);
        sourceFd_ = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
        sourcePath_ = source;
        if (sourceFd_ < 0) return false;
    }
    while (size > 0) {
        auto in = static_cast<off_t>(offset);
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 30));
        const ssize_t n = ::copy_file_range(sourceFd_, &in, fd_, nullptr, piece, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
            return copyThroughBuffer(sourceFd_, offset, size, fd_);
        if (n <= 0) return false;  // an error, or the source ended early
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::uint64_t>(n);
    }
    return true;
}

bool FileOutput::close() {
    closeFd(sourceFd_);
    sourcePath_.clear();
    if (fd_ < 0) return false;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

}  // namespace mendly::platform
