#pragma once
// tidewright's start-up step that checks the launcher's own files.
#include <filesystem>
#include <string>
#include <vector>

namespace mendly {

// True when the launcher self-update is skipped on this run: some argument
// after the program name (argv[0]) is exactly "--skip-self-update" (lower
// case only; "--SKIP-SELF-UPDATE" is dropped by the command line but does not
// skip), or a debugger is attached to the process.
bool selfUpdateSkipped(const std::vector<std::u16string>& argv);

// Runs the launcher self-update for the program folder. True when new files
// are staged and the hand-over has started: the caller must end the process
// at once. False in every other case (nothing to do, skipped, failed).
bool launcherSelfUpdateStaged(const std::filesystem::path& programFolder);

}  // namespace mendly
