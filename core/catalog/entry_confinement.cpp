#include "catalog/entry_confinement.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <system_error>

#include "catalog/delete_safety.h"
#include "catalog/install_layout.h"
#include "catalog/path_text.h"
#include "log/log_file.h"
#include "log/text.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

// True when `inner` is `outer` or below it, compared lexically.
bool isWithin(const fs::path& outer, const fs::path& inner) {
    const fs::path relative = inner.lexically_normal().lexically_relative(outer.lexically_normal());
    return !relative.empty() && *relative.begin() != "..";
}

// The path with every link resolved as far as it exists.
fs::path resolved(const fs::path& path) {
    std::error_code ec;
    fs::path out = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? path.lexically_normal() : out;
}

// Both separators count: a name written for Windows reads "..\x" as "../x".
// A leading separator does not lead out: the name is joined to its folder as
// text (joinName), so "/x.exe" names the folder's own x.exe.
bool hasEscapingComponent(std::u16string text) {
    std::replace(text.begin(), text.end(), u'\\', u'/');
    const fs::path path = widePath(text);
    return std::any_of(path.begin(), path.end(), [](const fs::path& part) { return part == ".."; });
}

// Logs each refusal once per process: the catalog is loaded again and again.
void logLeftOut(const ServerEntry& entry, const std::u16string& problem) {
    static std::mutex mutex;
    static std::set<std::u16string> logged;
    const std::u16string line = u"WARNING: Catalog entry \"" + toWide(entry.name) + u"\" left out: " + problem;
    {
        const std::lock_guard lock(mutex);
        if (!logged.insert(line).second) return;
    }
    LogFile::write(line);
}

}  // namespace

std::optional<fs::path> executableInside(const fs::path& folder, std::string_view launchExecutable,
                                         EscapeCheck check) {
    if (launchExecutable.empty()) return std::nullopt;
    const std::u16string text = toWide(launchExecutable);
    if (text.find(u'\0') != std::u16string::npos || hasEscapingComponent(text)) return std::nullopt;
    const fs::path exe = joinName(folder, text);
    if (!isWithin(folder, exe)) return std::nullopt;
    if (check == EscapeCheck::TextsAndLinks && !isWithin(resolved(folder), resolved(exe))) return std::nullopt;
    return exe;
}

std::u16string entryEscapeProblem(const fs::path& programFolder, const ServerEntry& entry, EscapeCheck check) {
    if (entry.installPath.empty() && !staysInClients(programFolder, defaultInstallFolder(programFolder, entry)))
        return u"its name leads out of the clients folder";
    if (!entry.launchExecutable.empty() &&
        !executableInside(installFolder(programFolder, entry), entry.launchExecutable, check))
        return u"its launchExecutable leads out of its installation";
    return {};
}

ServerCatalog loadUsableCatalog(const fs::path& programFolder) {
    ServerCatalog catalog = loadServerCatalog(programFolder);
    const auto firstCustom = catalog.entries.begin() + static_cast<std::ptrdiff_t>(catalog.builtInCount);
    const auto kept = std::remove_if(firstCustom, catalog.entries.end(), [&](const ServerEntry& entry) {
        const std::u16string problem = entryEscapeProblem(programFolder, entry, EscapeCheck::Texts);
        if (!problem.empty()) logLeftOut(entry, problem);
        return !problem.empty();
    });
    catalog.entries.erase(kept, catalog.entries.end());
    return catalog;
}

}  // namespace mendly
