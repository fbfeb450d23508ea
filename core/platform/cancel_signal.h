#pragma once
// POSIX: cancel_signal_posix.cpp (sigaction); Windows: SetConsoleCtrlHandler.
// Ctrl+C (SIGINT) and the terminal's break key (SIGQUIT) while clients are
// being updated: the handler only sets the given cancel flag, so the process
// keeps running and the current patch run stops at its next check.
//
// Installed at the start of an update command and removed at its end; at all
// other times the two signals end tidewright in the usual way.
// Call both from the main thread; the handler itself runs in signal context.
#include <atomic>

namespace mendly::platform {

// Points the handler at `cancel` (which must outlive removeCancelHandler) and
// catches SIGINT and SIGQUIT. Returns false when the handler could not be set.
[[nodiscard]] bool installCancelHandler(std::atomic<bool>& cancel);
// Gives SIGINT and SIGQUIT back the dispositions they had before the install
// (the default ones, unless the process was started with them ignored).
// Does nothing when no handler is installed.
void removeCancelHandler();

// A console reader that went away must not end a run half-way: writes to it
// then fail quietly instead (SIGPIPE ignored). Called once at start.
void ignoreBrokenPipes();

}  // namespace mendly::platform
