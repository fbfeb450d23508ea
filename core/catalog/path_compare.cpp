#include "catalog/path_compare.h"

#include <string>
#include <string_view>
#include <system_error>

namespace mendly {

namespace {

using PathText = std::filesystem::path::string_type;
using PathChar = std::filesystem::path::value_type;

// Either slash separates here, whatever the system: a comparison that
// refuses too much is safe.
bool isPathSeparator(PathChar c) { return c == '/' || c == '\\'; }

PathChar foldAscii(PathChar c) { return c >= 'A' && c <= 'Z' ? static_cast<PathChar>(c - 'A' + 'a') : c; }

bool equalFolded(std::basic_string_view<PathChar> a, std::basic_string_view<PathChar> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}

}  // namespace

std::filesystem::path normalizePath(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) absolute = path;
    PathText text = absolute.lexically_normal().native();
    while (text.size() > 1 && isPathSeparator(text.back())) text.pop_back();
    return std::filesystem::path(std::move(text));
}

bool samePath(const std::filesystem::path& a, const std::filesystem::path& b) {
    return equalFolded(normalizePath(a).native(), normalizePath(b).native());
}

bool isAncestorPath(const std::filesystem::path& a, const std::filesystem::path& b) {
    const PathText na = normalizePath(a).native();
    const PathText nb = normalizePath(b).native();
    if (na.empty() || na.size() >= nb.size()) return false;
    if (!equalFolded(std::basic_string_view<PathChar>(nb).substr(0, na.size()), na)) return false;
    return isPathSeparator(nb[na.size()]);
}

bool isRootPath(const std::filesystem::path& path) {
    const std::filesystem::path n = normalizePath(path);
    return n.empty() || n.relative_path().empty();
}

}  // namespace mendly
