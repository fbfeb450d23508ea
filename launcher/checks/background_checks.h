#pragma once
// The launcher's background status and version checks: selection, the fetch
// of the selected entry's published version, the status check of every
// entry, and the catalog reload that restarts it.
//
// The starters run on the UI thread, take what the workers need from the
// LauncherState and start one detached worker each. Workers never read the
// state: they report through the window's mailbox (WM_SELECTED_VERSION,
// WM_SERVER_STATUS) and free their record when the post fails. Results carry
// the entry index or the check's generation, so stale ones are dropped by the
// handlers in launcher_app_messages.h.
#include <cstdint>
#include <memory>

#include "bridge/page_host.h"
#include "model/launcher_state.h"
#include "model/status_check.h"

namespace mendly {

// selected = index when not busy and the index names an entry, then the
// version fetch of the new selection. False (nothing changed) otherwise.
bool selectEntry(LauncherState& state, PageHost& host, std::int32_t index);

// "Loading…", a page refresh and one fetch worker for the selected entry;
// "—" and nothing else without a valid selection or a window.
void refreshSelectedVersion(LauncherState& state, PageHost& host);

// A new status check (generation + 1) with one worker over every entry; does
// nothing without a window or with an empty catalog.
void refreshStatuses(LauncherState& state, PageHost& host);

// loadServerCatalog of the program folder taken over by the state (selection
// clamped, statuses resized), then a status check.
void reloadCatalog(LauncherState& state, PageHost& host);

// The page's Retry: not while busy. Forgets the selected entry's task
// problem, then asks the hosts again (the selected entry's version and a
// status check); an Unreachable mark stays until one of them answers.
void retryChecks(LauncherState& state, PageHost& host);

// Worker bodies, run on their own threads (called directly by tests). Each
// blocks for its HTTP requests and then posts its results to `mailbox`.
void versionFetchWorker(const std::shared_ptr<PatchWindow>& mailbox, const VersionFetchJob& job);
void statusCheckWorker(const std::shared_ptr<PatchWindow>& mailbox, const StatusCheck& check);

}  // namespace mendly
