#include "platform/install_lock.h"
#include "platform/wide_text_win.h"

namespace mendly::platform {

InstallLock::~InstallLock() { release(); }

InstallLock::Outcome InstallLock::acquire(const std::filesystem::path& installDir) {
    release();
    std::error_code ec;
    std::filesystem::create_directories(installDir, ec);
    const std::filesystem::path path = installDir / kInstallLockFileName;
    // No sharing: a second open fails while this handle lives; the handle is
    // not inheritable, the system closes it when the process ends, and the
    // file goes with the handle.
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? Outcome::Busy : Outcome::Failed;
    handle_ = handle;
    return Outcome::Held;
}

void InstallLock::release() {
    if (!handle_) return;
    ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

}  // namespace mendly::platform
