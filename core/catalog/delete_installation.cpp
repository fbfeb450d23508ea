#include "catalog/delete_installation.h"

#include <algorithm>
#include <system_error>
#include <utility>
#include <vector>

#include "catalog/delete_safety.h"
#include "catalog/install_layout.h"
#include "catalog/path_compare.h"
#include "catalog/path_text.h"
#include "log/text.h"

namespace mendly {
namespace {

constexpr char16_t kBuiltIn[] = u"Built-in installations cannot be deleted.";
constexpr char16_t kNotAnInstallation[] = u"That folder does not look like a game installation: ";

InstallationResult fail(InstallationResult result, std::u16string text, std::u16string& error) {
    error = std::move(text);
    return result;
}

// Removes the installation folder `target` (a folder, not a link) so that a
// removal cut short leaves a folder that still looks like an installation or
// is empty, and a later delete can finish it: everything that does not mark
// an installation goes first, then the items that do, then the folder.
// remove_all removes links as links and never descends into them.
bool removeInstallationFolder(const std::filesystem::path& target, std::string_view launchExecutable) {
    std::error_code ec;
    std::vector<std::filesystem::path> others;
    std::vector<std::filesystem::path> markers;
    std::filesystem::directory_iterator it(target, ec);
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec))
        (marksInstallation(*it, launchExecutable) ? markers : others).push_back(it->path());
    if (ec) return false;
    for (const auto* group : {&others, &markers}) {
        for (const auto& item : *group) {
            std::filesystem::remove_all(item, ec);
            if (ec) return false;
        }
    }
    std::filesystem::remove(target, ec);
    return !ec;
}

// Removes what is at `target` unless nothing is there; a link goes as a link.
bool removeTarget(const std::filesystem::path& target, std::string_view launchExecutable) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(target, ec);
    if (ec || status.type() == std::filesystem::file_type::not_found) return true;  // already gone
    if (std::filesystem::is_directory(status)) return removeInstallationFolder(target, launchExecutable);
    std::filesystem::remove(target, ec);
    return !ec;
}

// Something is at `target` that is not a game installation (and so may be
// somebody's files): the delete must leave it.
bool holdsSomethingElse(const std::filesystem::path& target, std::string_view launchExecutable) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(target, ec);
    if (ec || status.type() == std::filesystem::file_type::not_found) return false;
    return !looksLikeAnInstallation(target, launchExecutable);
}

}  // namespace

InstallationResult deleteInstallation(const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                                      std::size_t builtInCount, std::string_view name, std::u16string& error) {
    const std::u16string trimmed = trimWide(toWide(name));
    const std::string key = toUtf8(trimmed);
    if (key.empty()) return fail(InstallationResult::NoSuchEntry, u"No installation named \"\".", error);

    const std::size_t builtIn = std::min(builtInCount, catalog.entries.size());
    for (std::size_t i = 0; i < builtIn; ++i)
        if (equalsIgnoreAsciiCase(catalog.entries[i].name, key)) return fail(InstallationResult::BuiltIn, kBuiltIn, error);

    const auto index = findServer(catalog, key);
    if (!index)
        return fail(InstallationResult::NoSuchEntry, u"No custom installation named \"" + trimmed + u"\".", error);
    const ServerEntry& entry = catalog.entries[*index];

    const auto folder = installFolder(programFolder, entry);
    std::u16string safetyError;
    if (!isSafeToDelete(programFolder, catalog, builtInCount, folder, safetyError)) {
        const auto result = safetyError == kBuiltIn ? InstallationResult::BuiltIn : InstallationResult::DeleteRefused;
        return fail(result, safetyError, error);
    }
    // Names written by hand into customlist.json are not checked like new
    // names: the folder they stand for must still be one inside clients/.
    if (entry.installPath.empty() && !staysInClients(programFolder, folder))
        return fail(InstallationResult::DeleteRefused, u"Refusing to delete that folder.", error);

    // The checked form of the folder: no trailing separator that would make
    // the removal follow a link at the folder itself.
    const auto target = removalTarget(folder);
    if (holdsSomethingElse(target, entry.launchExecutable))
        return fail(InstallationResult::DeleteRefused, kNotAnInstallation + pathText(normalizePath(folder)), error);
    if (!removeTarget(target, entry.launchExecutable))
        return fail(InstallationResult::DeleteRefused, u"Could not delete the installation folder.", error);

    if (!removeCustomEntry(programFolder, entry))
        return fail(InstallationResult::CustomListFailed, u"Could not update customlist.json.", error);
    return InstallationResult::Done;
}

}  // namespace mendly
