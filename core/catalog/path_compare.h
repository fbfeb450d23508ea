#pragma once
// Lexical comparison of folders, as the delete rules use it. Paths are made
// absolute (against the current folder) and lexically normal; letter case is
// folded for the ASCII letters only. Nothing here follows links.
#include <filesystem>

namespace mendly {

// Absolute, lexically normal, without trailing separators (the root "/" keeps
// its one). A path that cannot be made absolute is used as it is.
std::filesystem::path normalizePath(const std::filesystem::path& path);
// The normalized forms are equal, ASCII case ignored.
bool samePath(const std::filesystem::path& a, const std::filesystem::path& b);
// `a` is a proper ancestor of `b`: the normalized `a` is a shorter prefix of
// the normalized `b` (ASCII case ignored) followed by a separator in `b`.
bool isAncestorPath(const std::filesystem::path& a, const std::filesystem::path& b);
// The normalized path is empty or nothing follows its root.
bool isRootPath(const std::filesystem::path& path);

}  // namespace mendly
