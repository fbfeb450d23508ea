#pragma once
// The --add-server command: a server from a name and a patch address (with an
// optional key and folder) or from an operator's server file, checked against
// its host and appended to customlist.json. Main thread; blocks while the
// address is checked.
#include <filesystem>

#include "catalog/server_catalog.h"
#include "command_line.h"
#include "console_output.h"

namespace mendly {

// Relative --folder and server-file paths are taken from the current folder.
// Returns the exit code: 0 added, 1 refused.
int addServerCommand(ConsoleOutput& console, const std::filesystem::path& programFolder,
                     const ServerCatalog& catalog, const CliCommand& command);

}  // namespace mendly
