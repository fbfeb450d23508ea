#include "catalog/delete_safety.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "catalog/install_layout.h"
#include "catalog/path_compare.h"

namespace mendly {
namespace {

constexpr char16_t kRefused[] = u"Refusing to delete that folder.";
constexpr char16_t kBuiltIn[] = u"Built-in installations cannot be deleted.";

// Every link resolved, also in the last component: a protected folder reached
// through a link is still that folder.
std::filesystem::path resolvedFully(const std::filesystem::path& path) {
    std::error_code ec;
    auto resolved = std::filesystem::weakly_canonical(normalizePath(path), ec);
    if (ec) return normalizePath(path);
    return normalizePath(resolved);
}

using PathText = std::filesystem::path::string_type;
using PathChar = std::filesystem::path::value_type;

// What the system itself takes for a separator.
bool isPathSeparator(PathChar c) { return c == '/' || c == std::filesystem::path::preferred_separator; }

std::filesystem::path withoutTrailingSlashes(const std::filesystem::path& path) {
    PathText text = path.native();
    while (text.size() > 1 && isPathSeparator(text.back())) text.pop_back();
    return std::filesystem::path(std::move(text));
}

// Letter case counts where the file system says so: on Windows "Clients" and
// "clients" are one folder (ASCII letters folded; enough to keep a protected
// folder from being reached under another spelling of its own name).
bool samePathText(const PathText& a, const PathText& b) {
#ifdef _WIN32
    if (a.size() != b.size()) return false;
    auto fold = [](PathChar c) { return c >= 'A' && c <= 'Z' ? static_cast<PathChar>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
#else
    return a == b;
#endif
}

// The system reads a path only up to its first NUL, while the rules here would
// compare the whole text: "<programFolder>\0x" is a folder the rules accept and
// the system takes for the program folder.
bool hasNul(const std::filesystem::path& path) { return path.native().find(PathChar{0}) != PathText::npos; }

// `child` names something strictly below `parent`; both are absolute and
// normal. Letter case counts as samePathText says.
bool strictlyBelow(const std::filesystem::path& parent, const std::filesystem::path& child) {
    const PathText& p = parent.native();
    const PathText& c = child.native();
    if (p.empty() || c.size() <= p.size() || !samePathText(c.substr(0, p.size()), p)) return false;
    return isPathSeparator(p.back()) || isPathSeparator(c[p.size()]);
}

struct Protected {
    std::filesystem::path programFolder;
    std::filesystem::path clients;
    std::vector<std::filesystem::path> builtInFolders;
};

bool refuses(const Protected& p, const std::filesystem::path& folder, std::u16string& error) {
    if (folder.empty() || hasNul(folder) || isRootPath(folder) || samePath(folder, p.programFolder) ||
        isAncestorPath(folder, p.programFolder) || samePath(folder, p.clients)) {
        error = kRefused;
        return true;
    }
    for (const auto& builtIn : p.builtInFolders) {
        if (samePath(builtIn, folder)) {
            error = kBuiltIn;
            return true;
        }
    }
    return false;
}

}  // namespace

std::filesystem::path removalTarget(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    if (ec) absolute = folder;
    // Trailing separators would make the system follow a link in the last
    // component; "." and ".." name a folder only its resolution knows.
    absolute = withoutTrailingSlashes(absolute);
    const auto name = absolute.filename();
    if (name.empty() || name == "." || name == "..") {
        auto resolved = std::filesystem::weakly_canonical(absolute, ec);
        return ec ? absolute : withoutTrailingSlashes(resolved);
    }
    auto parent = std::filesystem::weakly_canonical(absolute.parent_path(), ec);
    if (ec) return absolute;
    return withoutTrailingSlashes(parent) / name;
}

bool isSafeToDelete(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                    std::size_t builtInCount, const std::filesystem::path& folder, std::u16string& error) {
    Protected lexical{programFolder, programFolder / "clients", {}};
    const std::size_t count = std::min(builtInCount, catalog.entries.size());
    for (std::size_t i = 0; i < count; ++i)
        lexical.builtInFolders.push_back(installFolder(programFolder, catalog.entries[i]));
    if (refuses(lexical, folder, error)) return false;

    Protected physical{resolvedFully(lexical.programFolder), resolvedFully(lexical.clients), {}};
    for (const auto& builtIn : lexical.builtInFolders) physical.builtInFolders.push_back(resolvedFully(builtIn));
    const auto target = removalTarget(folder);
    if (refuses(physical, target, error)) return false;

    // A "." or ".." after a link means, to the system, the linked folder or
    // its parent, whereas the rules above read the path as text ("link/." is
    // the link). Remove only what both readings agree on.
    if (target != removalTarget(normalizePath(folder))) {
        error = kRefused;
        return false;
    }
    return true;
}

bool looksLikeAnInstallation(const std::filesystem::path& target, std::string_view launchExecutable) {
    std::error_code ec;
    const auto status = std::filesystem::status(target, ec);
    if (status.type() == std::filesystem::file_type::not_found)
        return std::filesystem::is_symlink(std::filesystem::symlink_status(target, ec));
    if (ec || !std::filesystem::is_directory(status)) return false;
    if (isInstalled(target, launchExecutable)) return true;
    const bool empty = std::filesystem::is_empty(target, ec);
    return empty && !ec;
}

bool staysInClients(const std::filesystem::path& programFolder, const std::filesystem::path& folder) {
    const auto clients = programFolder / "clients";
    return !hasNul(folder) && strictlyBelow(normalizePath(clients), normalizePath(folder)) &&
           strictlyBelow(resolvedFully(clients), removalTarget(folder));
}

}  // namespace mendly
