#pragma once
// Duplicating the selected installation into a new custom entry and deleting
// the selected custom installation, with their questions and messages.
// UI thread only; both do nothing while busy or without a valid selection.
// The copy and the removal run inside the call: the window waits for them.
#include "bridge/page_host.h"
#include "model/launcher_state.h"

namespace mendly {

// Installed entries only: the prompt (default name <name>-copy-<N>, default
// description "<display name> (Copy)"), then the copy; on success the catalog
// is reloaded and the new entry selected.
void duplicateSelected(LauncherState& state, PageHost& host);

// Custom entries only: the question (No is the default), then the removal of
// the folder and the customlist.json entry; on success the catalog is
// reloaded (the selection stays in range).
void deleteSelected(LauncherState& state, PageHost& host);

}  // namespace mendly
