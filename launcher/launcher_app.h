#pragma once
// The launcher's start-up, main window and teardown, and the process-wide
// model object (model/launcher_state.h). Everything here runs on the UI thread (the thread of main);
// background threads only post the messages of bridge/launcher_messages.h.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "model/launcher_state.h"
#include "test_hooks.h"

namespace mendly {

inline constexpr char16_t kLauncherCaption[] = u"Launcher";
inline constexpr char16_t kLauncherPageUrl[] = u"this://app/main.htm";

// The page archive compiled into the program.
std::string_view embeddedPageArchive();

// The non-window part of start-up: program folder, log, self-update, catalog.
// False when start-up has to stop (the user has been told why). Ends the
// process with exit code 0 when the self-update has handed over to keelswap.
[[nodiscard]] bool initLauncherState(LauncherState& state);

// Start-up, the main loop and teardown over the page archive `pageArchive`.
// Returns 1 when start-up failed, else 0 after the window was closed.
// `testHooks` is empty except in test builds.
int runLauncher(LauncherState& state, std::string_view pageArchive, const LauncherTestHooks& testHooks = {});

}  // namespace mendly
