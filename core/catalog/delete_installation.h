#pragma once
// Removing a custom installation: its folder and its customlist.json entry.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "catalog/installation_result.h"
#include "catalog/server_catalog.h"

namespace mendly {

// Removes the folder of the custom entry `name` (trimmed, ASCII case ignored)
// and every entry of that name from customlist.json. Built-in entries and
// protected folders (isSafeToDelete) are refused, and so is the folder of an
// entry without installPath that does not lie inside clients/
// (staysInClients). Links inside the folder are removed as links; what they
// point to stays. A folder already gone is not an error. `error` is set only
// when the result is not Done.
[[nodiscard]] InstallationResult deleteInstallation(const std::filesystem::path& programFolder,
                                                    const ServerCatalog& catalog, std::size_t builtInCount,
                                                    std::string_view name, std::u16string& error);

}  // namespace mendly
