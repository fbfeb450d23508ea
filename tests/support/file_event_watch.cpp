#include "support/file_event_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace mendly::test {
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kMask = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_ONLYDIR;

}  // namespace

FileEventWatch::FileEventWatch(fs::path root, Callback callback)
    : root_(std::move(root)), callback_(std::move(callback)) {
    fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0 || wakeFd_ < 0) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return;
    }
    addTree(root_);
    thread_ = std::thread([this] { loop(); });
}

FileEventWatch::~FileEventWatch() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (fd_ >= 0) ::close(fd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void FileEventWatch::addFolder(const fs::path& folder) {
    const int wd = ::inotify_add_watch(fd_, folder.c_str(), kMask);
    if (wd < 0) return;
    std::error_code ec;
    const std::lock_guard lock(mutex_);
    folders_[wd] = fs::relative(folder, root_, ec);
}

void FileEventWatch::addTree(const fs::path& folder) {
    addFolder(folder);
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) addFolder(it->path());
    }
}

void FileEventWatch::loop() {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents & POLLIN) return;
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0) continue;
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            fs::path folder;
            {
                const std::lock_guard lock(mutex_);
                const auto found = folders_.find(event->wd);
                if (found == folders_.end()) continue;
                folder = found->second;
            }
            if (event->len == 0) continue;
            const fs::path relative = (folder == "." ? fs::path() : folder) / event->name;
            const bool isFolder = (event->mask & IN_ISDIR) != 0;
            if (isFolder && (event->mask & (IN_CREATE | IN_MOVED_TO))) addTree(root_ / relative);

            FileEvent out{FileEvent::Kind::Created, relative, isFolder};
            if (event->mask & IN_CREATE) {
                out.kind = FileEvent::Kind::Created;
            } else if (event->mask & IN_CLOSE_WRITE) {
                out.kind = FileEvent::Kind::ClosedAfterWrite;
            } else if (event->mask & IN_MOVED_TO) {
                out.kind = FileEvent::Kind::MovedInto;
            } else if (event->mask & IN_DELETE) {
                out.kind = FileEvent::Kind::Deleted;
            } else {
                continue;
            }
            callback_(out);
        }
    }
}

}  // namespace mendly::test
