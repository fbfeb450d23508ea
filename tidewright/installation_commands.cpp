#include "installation_commands.h"

#include <algorithm>
#include <vector>

#include "catalog/install_layout.h"
#include "catalog/path_text.h"
#include "catalog/installations.h"
#include "log/log_file.h"
#include "log/text.h"

namespace mendly {

int duplicateCommand(ConsoleOutput& console, const std::filesystem::path& programFolder,
                     const ServerCatalog& catalog, const std::u16string& name, const std::u16string& newName) {
    const std::string sourceName = toUtf8(name);
    const auto source = findServer(catalog, sourceName);
    const std::string description =
        (source ? displayName(catalog.entries[*source]) : toUtf8(newName)) + " (Copy)";

    std::u16string error;
    const InstallationResult result =
        duplicateInstallation(programFolder, catalog, sourceName, toUtf8(newName), description, error);
    if (result != InstallationResult::Done) {
        console.printError(error.empty() ? u"Could not duplicate the installation." : error);
        if (result == InstallationResult::NoSuchEntry) console.printLine(knownNamesLine(catalog));
        return 1;
    }

    ServerEntry copy;
    copy.name = toUtf8(newName);
    console.printLine(u"Duplicated " + name + u" as " + newName + u".");
    console.printLine(u"Folder: " + pathText(defaultInstallFolder(programFolder, copy)));
    LogFile::write(u"CLI duplicated " + name + u" as " + newName);
    return 0;
}

int deleteCommand(ConsoleOutput& console, const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                  const std::u16string& name) {
    const std::string key = toUtf8(name);
    std::filesystem::path folder;
    if (const auto index = findServer(catalog, key)) folder = installFolder(programFolder, catalog.entries[*index]);

    std::u16string error;
    const InstallationResult result = deleteInstallation(programFolder, catalog, catalog.builtInCount, key, error);
    if (result != InstallationResult::Done) {
        console.printError(error.empty() ? u"Could not delete the installation." : error);
        if (result == InstallationResult::NoSuchEntry) console.printLine(knownNamesLine(catalog, true));
        return 1;
    }

    console.printLine(u"Deleted " + name + u".");
    if (!folder.empty()) console.printLine(u"Removed " + pathText(folder));
    LogFile::write(u"CLI deleted custom installation: " + name);
    return 0;
}

std::u16string knownNamesLine(const ServerCatalog& catalog, bool customOnly) {
    std::vector<std::string> names;
    for (std::size_t i = customOnly ? catalog.builtInCount : 0; i < catalog.entries.size(); ++i) {
        const std::string& name = catalog.entries[i].name;
        const bool seen = std::any_of(names.begin(), names.end(),
                                      [&](const std::string& other) { return equalsIgnoreAsciiCase(other, name); });
        if (!seen) names.push_back(name);
    }
    if (names.empty()) return customOnly ? u"There are no custom installations." : u"There are no installations.";
    std::u16string line = customOnly ? u"Custom installations: " : u"Known installations: ";
    for (std::size_t i = 0; i < names.size(); ++i) line += (i ? u", " : u"") + toWide(names[i]);
    return line;
}

}  // namespace mendly
