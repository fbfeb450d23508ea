#include "support/scoped_mount.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mendly::test {

namespace {

std::string sizeOption(std::uint64_t bytes) { return "size=" + std::to_string(bytes) + ",mode=0755"; }

std::string failure(const char* what) { return std::string(what) + " failed: " + std::strerror(errno); }

}  // namespace

std::unique_ptr<ScopedMount> ScopedMount::tmpfs(const std::filesystem::path& folder, std::uint64_t bytes,
                                                std::string& why) {
    if (::geteuid() != 0) {
        why = "mounting a tmpfs needs root";
        return nullptr;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, sizeOption(bytes).c_str()) != 0) {
        why = failure("mount -t tmpfs");
        return nullptr;
    }
    return std::unique_ptr<ScopedMount>(new ScopedMount(folder));
}

std::unique_ptr<ScopedMount> ScopedMount::readOnlyView(const std::filesystem::path& folder, std::string& why) {
    if (::geteuid() != 0) {
        why = "a read-only bind mount needs root";
        return nullptr;
    }
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        why = failure("mount --bind");
        return nullptr;
    }
    auto mounted = std::unique_ptr<ScopedMount>(new ScopedMount(folder));
    if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        why = failure("mount -o remount,bind,ro");
        return nullptr;  // the destructor undoes the bind mount
    }
    return mounted;
}

ScopedMount::~ScopedMount() { ::umount2(folder_.c_str(), MNT_DETACH); }

bool ScopedMount::resize(std::uint64_t bytes) {
    return ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV, sizeOption(bytes).c_str()) == 0;
}

}  // namespace mendly::test
