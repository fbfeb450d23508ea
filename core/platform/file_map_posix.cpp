#include "platform/file_map.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mendly::platform {

MappedFile::~MappedFile() { close(); }

void MappedFile::close() {
    if (data_ != nullptr) ::munmap(const_cast<void*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}

bool MappedFile::open(const std::filesystem::path& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && info.st_size > 0) {
        // Every page is mapped at once, rather than one fault per page as it is
        // first read: the whole file is read after this.
        void* mapped =
            ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        ok = mapped != MAP_FAILED;
        if (ok) {
            data_ = mapped;
            size_ = static_cast<std::size_t>(info.st_size);
        }
    }
    ::close(fd);  // the mapping keeps the file
    return ok;
}

}  // namespace mendly::platform
