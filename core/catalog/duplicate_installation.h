#pragma once
// Copying an installed entry's folder under a new name, as a custom entry.
#include <filesystem>
#include <string>
#include <string_view>

#include "catalog/installation_result.h"
#include "catalog/server_catalog.h"

namespace mendly {

// Copies the installation of `sourceName` to programFolder/clients/<newName>
// and appends a custom entry with the source's patch server to
// customlist.json. `newName` and `newDesc` are trimmed; an empty description
// becomes the new name. `error` is set only when the result is not Done.
//
// Only reads the source folder: a copy that fails part-way leaves the partly
// filled target and no entry. Blocks the calling thread for the whole copy.
[[nodiscard]] InstallationResult duplicateInstallation(const std::filesystem::path& programFolder,
                                                       const ServerCatalog& catalog, std::string_view sourceName,
                                                       std::string_view newName, std::string_view newDesc,
                                                       std::u16string& error);

}  // namespace mendly
