#include "installation_commands.h"

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
    if (result != InstallationResult::Done)
        return console.printError(error.empty() ? u"Could not duplicate the installation." : error);

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
    if (result != InstallationResult::Done)
        return console.printError(error.empty() ? u"Could not delete the installation." : error);

    console.printLine(u"Deleted " + name + u".");
    if (!folder.empty()) console.printLine(u"Removed " + pathText(folder));
    LogFile::write(u"CLI deleted custom installation: " + name);
    return 0;
}

}  // namespace mendly
