#pragma once
// Mounts for file-system fault tests (a small tmpfs that fills up, a
// read-only view of a folder), undone when the object goes away. Mounting
// needs root (CAP_SYS_ADMIN); the factories say why when they cannot mount,
// so that a test can skip with that reason.
//
// Threads: the test's thread.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace mendly::test {

class ScopedMount {
public:
    // A tmpfs of `bytes` at `folder` (created when missing). Null with the
    // reason in `why` when it cannot be mounted.
    static std::unique_ptr<ScopedMount> tmpfs(const std::filesystem::path& folder, std::uint64_t bytes,
                                              std::string& why);
    // `folder` mounted over itself read-only. Null with the reason in `why`.
    static std::unique_ptr<ScopedMount> readOnlyView(const std::filesystem::path& folder, std::string& why);

    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    // Gives a tmpfs a new size (growing it frees the "disk"). False on failure.
    [[nodiscard]] bool resize(std::uint64_t bytes);

private:
    explicit ScopedMount(std::filesystem::path folder) : folder_(std::move(folder)) {}
    std::filesystem::path folder_;
};

}  // namespace mendly::test
