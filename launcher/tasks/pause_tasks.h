#pragma once
// Pause and resume of a download, the download limit set in the page, and
// what closing the window during a download leaves for the next start.
//
// A pause stops the run the way Cancel does (the engine keeps its staging
// folder) and records the download in launcher-settings.json; Resume, or the
// next start of the launcher, runs the same task again, which uses what is
// staged and fetches only the rest.
//
// Thread: the UI thread only, like patch_tasks.h.
#include <cstdint>
#include <string>

#include "bridge/page_host.h"
#include "model/launcher_state.h"

namespace mendly {

// Pause: while canPause(), "Pausing..." and the engine's cancel flag.
void pauseTask(LauncherState& state, PageHost& host);
// Resume: the selected entry's paused download runs again. Not while busy.
void resumeTask(LauncherState& state, PageHost& host);

// Taken just before onPatchFinished (which clears the progress), handed to
// settleFinishedTask just after it.
struct FinishedTask {
    bool pauseRequested = false;
    std::int32_t progressDone = 0;
    std::int32_t progressTotal = 0;
};
FinishedTask noteFinishingTask(const LauncherState& state);
// A run that ended after a pause (and did not succeed) stays Paused: status
// "Paused", its progress and last transfer kept, recorded for Resume and the
// next start. Any other end forgets a paused download of that entry.
void settleFinishedTask(LauncherState& state, PageHost& host, const FinishedTask& task, bool ok);

// The window closed while a task ran: recorded as paused (the caller has
// cancelled the run).
void recordPauseOnClose(LauncherState& state);
// At start-up, once the window is up: a download paused earlier continues
// (its entry is selected first).
void continuePausedDownload(LauncherState& state, PageHost& host);

// The page's setDownloadLimit: "" or "0" removes the limit; otherwise a rate
// as parseRateLimit reads it. The answer is {"downloadLimit": the limit as
// now set ("" for none), "error": the sentence when the text was refused,
// "ok": bool}. The limit applies from the next run on.
std::string setDownloadLimit(LauncherState& state, const std::string& text);
// The page's getDownloadSettings: {"downloadLimit": "5M" or ""}.
std::string downloadSettingsJson(const LauncherState& state);

}  // namespace mendly
