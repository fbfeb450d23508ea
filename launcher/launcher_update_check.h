#pragma once
// The launcher's start-up self-update, run beside the window instead of
// before it: the window never waits on the update host.
//
// A worker thread checks and stages (stageLauncherUpdate); its message boxes
// and its result come to the UI thread as posted messages:
//   WM_LAUNCHER_UPDATE_NOTICE  wParam UpdateNoticeIcon  lParam: new std::u16string* (the text)
//   WM_LAUNCHER_UPDATE_STAGED  wParam 0                 lParam: new StagedLauncherUpdate*
// A staged update is handed to keelswap as soon as no patch task runs; the
// launcher then leaves its main loop and exits with code 0.
//
// Threads: start and the handlers on the UI thread. The pending hand-over is
// owned by the UI thread.
#include <filesystem>
#include <memory>

#include "bridge/launcher_messages.h"  // WM_LAUNCHER_UPDATE_NOTICE, WM_LAUNCHER_UPDATE_STAGED
#include "model/launcher_state.h"
#include "post_channel.h"
#include "selfupdate/self_update.h"

namespace mendly {

// Starts the worker (detached: the launcher may close before the check ends;
// its late posts then fail and free their payloads). Throws std::system_error
// when no thread can be made.
void startLauncherUpdateCheck(std::shared_ptr<PatchWindow> mailbox, const std::filesystem::path& programFolder,
                              SelfUpdateSource source, SelfUpdateSkipReason skip);

// UI thread: keeps the staged update and hands it over when idle.
void onLauncherUpdateStaged(LauncherState& state, std::unique_ptr<StagedLauncherUpdate> staged);
// UI thread: hands a kept update over if no task runs now (after a task ends).
void handOverWhenIdle(LauncherState& state);

// Deletes the payload of either message.
void freeLauncherUpdatePayload(const PostedMessage& message);

}  // namespace mendly
