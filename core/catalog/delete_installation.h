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
// and every entry of that name from customlist.json. The folder is the one
// installFolder names: a relative installPath counts from `programFolder`.
//
// Refused, with the entry left in customlist.json and nothing removed:
// built-in entries; protected folders (isSafeToDelete: the program folder,
// the folders holding it, clients/ and the built-in folders); the folder of
// an entry without installPath that does not lie inside clients/
// (staysInClients); and a folder that is neither a game installation nor
// empty (looksLikeAnInstallation), with "That folder does not look like a
// game installation: " and the folder's absolute, lexically normal path.
//
// Links inside the folder are removed as links; what they point to stays. An
// installPath that is itself a link loses only the link. The items that mark
// an installation go last, so a delete cut short leaves a folder that a new
// delete still accepts. A folder already gone is not an error. `error` is set
// only when the result is not Done. Runs on the calling thread.
[[nodiscard]] InstallationResult deleteInstallation(const std::filesystem::path& programFolder,
                                                    const ServerCatalog& catalog, std::size_t builtInCount,
                                                    std::string_view name, std::u16string& error);

}  // namespace mendly
