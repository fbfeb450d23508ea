#pragma once
// The page's task and dialog functions without arguments (play, install,
// update, retryChecks, reinstall, resetIniDirectory, configure,
// openInstallFolder, cancelPatch, pausePatch, resumePatch,
// duplicateInstallation, deleteInstallation). UI thread only.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge/page_host.h"
#include "model/launcher_state.h"

namespace mendly {

// Runs the operation called `name` and returns the page's answer: true with a
// state, also when the operation refused to run (the outcome reaches the page
// through its refresh); without a state nothing runs and play and reinstall
// answer true, the others false. Nothing for another name.
std::optional<nlohmann::json> runTaskAction(LauncherState* state, PageHost& host, const std::string& name);

}  // namespace mendly
