#pragma once
// How the patch task's posted messages change the LauncherState: status
// lines, progress and the end of a run. UI thread only. Each returns whether
// the page needs a refresh (the caller posts WM_REFRESH_PAGE).
#include <cstdint>
#include <string>

#include "model/launcher_state.h"

namespace mendly {

// A status line of the running task; ignored while idle. A stage's first line
// resets the progress to 0 of at least 1, so the bar shows from the start.
bool applyPatchStatus(LauncherState& state, std::u16string text);

// Progress of the running task (also while idle). The first real progress of
// a task that has no status line yet reads "Working...".
bool applyPatchProgress(LauncherState& state, std::int32_t done, std::int32_t total);

// The end of a run: a cancelled run keeps the status "Cancelled"; otherwise
// the status is cleared. busy, launchAfterTask and the progress are reset.
// Launching the game and the "Update failed" box are the task's part.
void applyPatchFinished(LauncherState& state, bool ok, const std::u16string* error);

}  // namespace mendly
