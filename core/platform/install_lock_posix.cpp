#include "platform/install_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace mendly::platform {

InstallLock::~InstallLock() { release(); }

InstallLock::Outcome InstallLock::acquire(const std::filesystem::path& installDir) {
    release();
    std::error_code ec;
    std::filesystem::create_directories(installDir, ec);
    path_ = installDir / kInstallLockFileName;
    // The holder removes the file as it lets go, so a lock taken on a file
    // that is no longer the one at the name is worthless: try again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        // O_NOFOLLOW: a link planted at the name is not followed to another file.
        const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) return Outcome::Failed;
        int result = 0;
        do {
            result = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result != 0) {
            const bool busy = errno == EWOULDBLOCK;
            ::close(fd);
            return busy ? Outcome::Busy : Outcome::Failed;
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(path_.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            fd_ = fd;
            return Outcome::Held;
        }
        ::close(fd);
    }
    return Outcome::Failed;
}

void InstallLock::release() {
    if (fd_ < 0) return;
    // Removed while still locked: whoever opens the name next makes a new file.
    ::unlink(path_.c_str());
    ::close(fd_);  // drops the lock
    fd_ = -1;
}

}  // namespace mendly::platform
