#pragma once
// One patch run at a time per installation: an advisory lock on a file in the
// installation folder, held for as long as the object lives. The system drops
// it when the holder exits however it ends, so a killed run never keeps the
// next one out. Two holders in one process exclude each other too. The file
// is removed again when the lock is let go (a killed holder leaves it, empty
// and unlocked).
// POSIX: install_lock_posix.cpp (flock on an O_CLOEXEC descriptor).
// Windows: install_lock_win.cpp (an exclusive, non-inherited handle).
//
// Threads: one owner; not copyable. Different objects on any threads.
#include <filesystem>
#include <string_view>

namespace mendly::platform {

inline constexpr std::string_view kInstallLockFileName = ".mendly-lock";

class InstallLock {
public:
    enum class Outcome { Held, Busy, Failed };

    InstallLock() = default;
    ~InstallLock();
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;

    // Takes the lock of `installDir` (created when missing) without waiting:
    // Busy when another holder has it, Failed when the lock file cannot be
    // made (a read-only folder, ...).
    Outcome acquire(const std::filesystem::path& installDir);
    void release();

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
    std::filesystem::path path_;
#endif
};

}  // namespace mendly::platform
