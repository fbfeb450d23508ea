#pragma once
// The page's task and dialog functions (play, install, reinstall,
// resetIniDirectory, configure, openInstallFolder, cancelPatch,
// duplicateInstallation, deleteInstallation).
//
// NOT YET IMPLEMENTED: the patch tasks, the game launch and the installation
// dialogs are still to come. Until then each function answers the page
// exactly as it will (true with a state; the no-state answer otherwise) and
// does nothing else. This file is the one place that stands in for them.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/launcher_state.h"

namespace mendly {

// The answer of a task or dialog function, or nothing for another name.
std::optional<nlohmann::json> runPendingAction(LauncherState* state, const std::string& name);

}  // namespace mendly
