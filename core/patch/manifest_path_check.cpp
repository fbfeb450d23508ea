#include "patch/manifest_path_check.h"

#include <algorithm>

#include "patch/archive_paths.h"

namespace mendly {
namespace {

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// `path` uses '/' only. True when walking its components never goes above
// the starting folder.
bool staysInside(std::string_view path) {
    std::size_t depth = 0;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view component = path.substr(start, end - start);
        if (component == "..") {
            if (depth == 0) return false;
            --depth;
        } else if (!component.empty() && component != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

// The text after the last occurrence of `separator`.
std::string_view lastComponent(std::string_view path, char separator) {
    const std::size_t at = path.rfind(separator);
    return at == std::string_view::npos ? path : path.substr(at + 1);
}

bool namesAFile(std::string_view fileName) { return !fileName.empty() && fileName != "." && fileName != ".."; }

// `path` uses '/' only. Empty when every component is a plain name: no empty
// component (a doubled separator), no "." and no "..". One file then has one
// spelling (apart from letter case), so no two entries can name it unnoticed.
std::string canonicalFormProblem(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view component = path.substr(start, end - start);
        if (component.empty()) return "has an empty component (a doubled separator)";
        if (component == "." || component == "..") return "has a \"" + std::string(component) + "\" component";
        start = end + 1;
    }
    return {};
}

}  // namespace

std::string manifestPathProblem(std::string_view relative) {
    if (relative.find('\0') != std::string_view::npos) return "contains a NUL character";

    std::string path(relative);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (!path.empty() && path[0] == '/') return "is an absolute path";
    if (path.size() >= 2 && isAsciiLetter(path[0]) && path[1] == ':') return "names a drive";
    if (!staysInside(path)) return "climbs out of the installation folder";
    if (!namesAFile(lastComponent(path, '/'))) return "does not name a file";

    const auto member = classifyArchivePath(path);
    if (!member) return canonicalFormProblem(path);
    const std::string archiveFile = member->archiveName + ".pak";
    if (!staysInside(std::string_view(path).substr(path.find('/') + 1)))
        return "climbs out of the archive " + archiveFile;
    if (!namesAFile(lastComponent(member->memberPath, '\\'))) return "names no member of the archive " + archiveFile;
    return canonicalFormProblem(path);
}

}  // namespace mendly
