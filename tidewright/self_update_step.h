#pragma once
// tidewright's start-up step that checks the launcher's own files.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace mendly {

// True when the launcher self-update is skipped on this run: some argument
// after the program name (argv[0]) is exactly "--skip-self-update" (lower
// case only; "--SKIP-SELF-UPDATE" is dropped by the command line but does not
// skip), or a debugger is attached to the process.
bool selfUpdateSkipped(const std::vector<std::u16string>& argv);

// Runs the launcher self-update for the program folder. When new files are
// staged, `beforeHandOver` runs (the last console line, closing the log) and
// keelswap replaces this process: the call then does not return. It returns
// false when there was nothing to hand over (nothing to do, skipped, failed)
// and true when the hand-over was attempted and failed after
// `beforeHandOver` ran (the caller ends with a failure).
bool launcherSelfUpdateFailedHandOver(const std::filesystem::path& programFolder,
                                      const std::function<void()>& beforeHandOver);

}  // namespace mendly
