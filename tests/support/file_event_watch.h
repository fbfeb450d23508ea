#pragma once
// Watches a folder tree with inotify and hands every change to a callback the
// moment it is read, so a test can act (kill a process) at a precise point of
// another process's file work: when a file is created, when it was written
// and closed, when it was renamed into place.
//
// Folders below the root are watched too, also those created while watching.
// A watch set up after a folder was created can miss the very first events in
// it; tests that count events therefore watch folders that already exist.
//
// Threads: the callback runs on the watcher's own thread, one event at a time,
// in the order the kernel reported them; it must not block for long. The
// watcher stops (and joins its thread) in its destructor.
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace mendly::test {

struct FileEvent {
    enum class Kind { Created, ClosedAfterWrite, MovedInto, Deleted };
    Kind kind;
    std::filesystem::path relative;  // below the watched root
    bool folder = false;
};

class FileEventWatch {
public:
    using Callback = std::function<void(const FileEvent&)>;

    // Starts watching `root` (which must exist). An invalid watch (inotify
    // unavailable) reports no events; valid() tells.
    FileEventWatch(std::filesystem::path root, Callback callback);
    ~FileEventWatch();
    FileEventWatch(const FileEventWatch&) = delete;
    FileEventWatch& operator=(const FileEventWatch&) = delete;

    bool valid() const { return fd_ >= 0; }

private:
    void addTree(const std::filesystem::path& folder);
    void addFolder(const std::filesystem::path& folder);
    void loop();

    std::filesystem::path root_;
    Callback callback_;
    int fd_ = -1;
    int wakeFd_ = -1;  // eventfd that ends the loop
    std::mutex mutex_;
    std::map<int, std::filesystem::path> folders_;  // watch descriptor -> path relative to root
    std::thread thread_;
};

}  // namespace mendly::test
