#pragma once
// The --duplicate and --delete commands, and the line that follows an error
// about a name no entry has.
#include <filesystem>
#include <string>

#include "catalog/server_catalog.h"
#include "console_output.h"

namespace mendly {

// name and newName are the trimmed operands. Each returns the exit code (0 or 1).
int duplicateCommand(ConsoleOutput& console, const std::filesystem::path& programFolder,
                     const ServerCatalog& catalog, const std::u16string& name, const std::u16string& newName);
int deleteCommand(ConsoleOutput& console, const std::filesystem::path& programFolder, const ServerCatalog& catalog,
                  const std::u16string& name);

// Which names there are, for the line after "No installation named ...":
// "Known installations: retail, pts, mine" in catalog order, each name once
// (ASCII case ignored); with `customOnly` "Custom installations: ..." or
// "There are no custom installations."
std::u16string knownNamesLine(const ServerCatalog& catalog, bool customOnly = false);

}  // namespace mendly
