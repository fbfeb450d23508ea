#pragma once
// The --duplicate and --delete commands.
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

}  // namespace mendly
