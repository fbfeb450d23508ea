#pragma once
// The launcher's patch tasks on the selected entry (Install, Play, Reinstall,
// Reset INI, Cancel) and the handling of the patch worker's messages.
//
// Thread: the UI thread only; each operation takes a copy of the selected
// entry and does nothing without a valid selection. `busy` is tested and set
// here before the worker starts, so two runs never overlap. Messages for the
// user go through the PageHost (boxes owned by the launcher window).
#include <cstdint>
#include <memory>
#include <string>

#include "patch/patch_outcome.h"

#include "bridge/page_host.h"
#include "model/launcher_state.h"

namespace mendly {

// Install: the missing-executable message for an entry without a launch
// executable, else an Install run. Not while busy.
void installSelected(LauncherState& state, PageHost& host);
// Play: an Update run that launches the game when it succeeds, on an installed
// entry; otherwise exactly installSelected. Not while busy.
void playSelected(LauncherState& state, PageHost& host);
// Update: an Update run on an installed entry that launches nothing
// afterwards (the label "Update" of an entry marked out of date). Not while
// busy; an entry that is not installed is left to Install.
void updateSelected(LauncherState& state, PageHost& host);
// Reinstall: asks, deletes the installation folder, then an Install run.
void reinstallSelected(LauncherState& state, PageHost& host);
// Reset INI: asks, deletes the installation's ini folder, then a ResetIni run.
void resetIniSelected(LauncherState& state, PageHost& host);
// Cancel: while busy, "Cancelling..." and the engine's cancel flag.
void cancelTask(LauncherState& state, PageHost& host);

// Starts a run for `entry`: folders, busy, first status, task bar, log header,
// worker. A worker that cannot be started is reported and leaves the launcher
// idle again.
void startTask(LauncherState& state, PageHost& host, const ServerEntry& entry, bool launchAfter, PatchMode mode);

// WM_PATCH_STATUS while busy: a stage's first line resets the progress to 0 of
// at least 1, every line becomes the status. False when ignored (idle).
bool onPatchStatus(LauncherState& state, PageHost& host, std::u16string text);
// WM_PATCH_PROGRESS (also while idle): progress, the task bar value, and
// "Working..." for the first progress of a run without a status line yet.
void onPatchProgress(LauncherState& state, PageHost& host, std::int32_t done, std::int32_t total);
// WM_PATCH_FINISHED: the game launch after a successful Play run, or the
// cancelled status, or for a failure the entry's task problem (shown in the
// page with the engine's sentence, no message box) and a version check that
// tells whether its host still answers; then idle again, a status check and
// the page reloaded.
void onPatchFinished(LauncherState& state, PageHost& host, PatchOutcome outcome, const std::u16string* error);

}  // namespace mendly
