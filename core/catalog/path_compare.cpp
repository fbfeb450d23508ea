#include "catalog/path_compare.h"

#include <string>
#include <system_error>

#include "log/text.h"

namespace mendly {

std::filesystem::path normalizePath(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec) absolute = path;
    std::string text = absolute.lexically_normal().native();
    while (text.size() > 1 && (text.back() == '/' || text.back() == '\\')) text.pop_back();
    return std::filesystem::path(std::move(text));
}

bool samePath(const std::filesystem::path& a, const std::filesystem::path& b) {
    return equalsIgnoreAsciiCase(normalizePath(a).native(), normalizePath(b).native());
}

bool isAncestorPath(const std::filesystem::path& a, const std::filesystem::path& b) {
    const std::string na = normalizePath(a).native();
    const std::string nb = normalizePath(b).native();
    if (na.empty() || na.size() >= nb.size()) return false;
    if (!equalsIgnoreAsciiCase(std::string_view(nb).substr(0, na.size()), na)) return false;
    const char next = nb[na.size()];
    return next == '/' || next == '\\';
}

bool isRootPath(const std::filesystem::path& path) {
    const std::filesystem::path n = normalizePath(path);
    return n.empty() || n.relative_path().empty();
}

}  // namespace mendly
