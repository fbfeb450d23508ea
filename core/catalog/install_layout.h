#pragma once
// Where each catalog entry's installation lives and whether a game client is
// installed there. Runs on the calling thread; holds no locks.
//
// The version text, the patch host addresses and the status rule have headers
// of their own, included here for the callers that want all of it.
#include <filesystem>
#include <string_view>

#include "catalog/install_status.h"
#include "catalog/patch_addresses.h"
#include "catalog/remote_version.h"
#include "catalog/server_entry.h"
#include "catalog/version_text.h"

namespace mendly {

// programFolder/clients/<name>; the name is used unchanged (joined as text, so
// it never leaves clients/ by starting with a separator). A name with a ".."
// component, written by hand into customlist.json, does lead out of clients/:
// names made by the programs never have one (validateInstallationName), and a
// delete refuses such a folder (staysInClients).
std::filesystem::path defaultInstallFolder(const std::filesystem::path& programFolder, const ServerEntry& entry);
// installPath when set, else the default. An absolute installPath is taken
// unchanged; a relative one is joined to the program folder, so that it names
// the same folder whichever folder the program was started from.
std::filesystem::path installFolder(const std::filesystem::path& programFolder, const ServerEntry& entry);

// True when a game client is in `folder`: the entry's launchExecutable (also in
// another letter case), one of the known client executables, or any ".pak" or
// ".exe" file directly in the folder. A folder that does not exist is simply
// not installed. Lists the folder only when no known executable name exists.
bool isInstalled(const std::filesystem::path& folder, std::string_view launchExecutable);

// True when `item`, found directly in a folder, is on its own enough for
// isInstalled to call that folder an installation. A folder holding at least
// one such item is installed; removing everything else first keeps it so.
bool marksInstallation(const std::filesystem::directory_entry& item, std::string_view launchExecutable);

}  // namespace mendly
