#pragma once
// The folder patch_host serves and how request paths map into it.
//
// A request path (already percent-decoded) names a regular file below the
// root, or nothing: ".." components, NUL bytes, folders (there is no listing)
// and anything that resolves outside the root through a symbolic link are
// refused. Thread-safe (no mutable state).
#include <filesystem>
#include <optional>
#include <string_view>

namespace patch_host {

class StaticRoot {
public:
    // False when `folder` is not an existing folder.
    [[nodiscard]] bool open(const std::filesystem::path& folder);
    const std::filesystem::path& folder() const { return root_; }

    // The file to send for `requestPath` ("/a/b.txt"), or nothing.
    std::optional<std::filesystem::path> resolve(std::string_view requestPath) const;

private:
    std::filesystem::path root_;  // canonical
};

}  // namespace patch_host
