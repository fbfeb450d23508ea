#include "catalog/delete_installation.h"

#include <algorithm>
#include <system_error>

#include "catalog/delete_safety.h"
#include "catalog/install_layout.h"
#include "log/text.h"

namespace mendly {
namespace {

constexpr char16_t kBuiltIn[] = u"Built-in installations cannot be deleted.";

InstallationResult fail(InstallationResult result, std::u16string text, std::u16string& error) {
    error = std::move(text);
    return result;
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
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(target, ec);
    if (!ec && status.type() != std::filesystem::file_type::not_found) {
        // remove_all removes links as links and never descends into them.
        std::filesystem::remove_all(target, ec);
        if (ec) return fail(InstallationResult::DeleteRefused, u"Could not delete the installation folder.", error);
    }

    if (!removeCustomEntry(programFolder, entry))
        return fail(InstallationResult::CustomListFailed, u"Could not update customlist.json.", error);
    return InstallationResult::Done;
}

}  // namespace mendly
