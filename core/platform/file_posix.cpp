#include "platform/file.h"
#include "platform/descriptor_posix.h"
#include "platform/file_presence.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace mendly::platform {
namespace {

// The file a link at `path` finally names (relative targets resolved against
// the link's folder); `path` itself when it is no link.
std::filesystem::path finalTarget(const std::filesystem::path& path) {
    std::filesystem::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, ec))) return current;
        const auto target = std::filesystem::read_symlink(current, ec);
        if (ec) return current;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current;
}

// Read-only for this process, or marked read-only by its owner (no write
// permission for anyone), which holds even for the superuser: the user's
// "do not change this file" is kept.
bool isReadOnly(const std::filesystem::path& path, const struct stat& info) {
    return (info.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

PathPresence presenceOf(const std::filesystem::path& path) {
    std::error_code ec;
    const bool missing = std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::not_found;
    return missing ? PathPresence::Missing : PathPresence::Present;
}

FileWrite replaceWholeFile(const std::filesystem::path& path, std::string_view bytes) {
    const std::filesystem::path target = finalTarget(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && (!S_ISREG(old.st_mode) || isReadOnly(target, old))) return FileWrite::CannotWrite;
    struct stat folder {};
    const std::filesystem::path parent = target.has_parent_path() ? target.parent_path() : ".";
    if (::stat(parent.c_str(), &folder) == 0 && isReadOnly(parent, folder)) return FileWrite::CannotWrite;

    const std::filesystem::path temp = temporaryNameFor(target);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          exists ? (old.st_mode & 07777) : 0644);
    if (fd < 0) return FileWrite::CannotWrite;
    bool ok = writeToDescriptor(fd, bytes);
    if (ok && exists) ok = ::fchmod(fd, old.st_mode & 07777) == 0;  // the umask does not trim the user's choice
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        return FileWrite::ShortWrite;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return FileWrite::CannotWrite;
    }
    syncFolder(target.parent_path());
    return FileWrite::Written;
}

}  // namespace mendly::platform
