#pragma once
// Starting the game, its configuration mode and the installation folder in
// the desktop. UI thread only; the launcher never waits for what it starts.
#include <filesystem>
#include <string_view>

#include "bridge/page_host.h"
#include "model/launcher_state.h"

namespace mendly {

// Shown (caption "Play" or "Configure") when the game needs wine and wine is
// not installed.
inline constexpr std::u16string_view kWineNeededText =
    u"Wine is needed to run the game. Install it with your distribution's package manager (for example: sudo apt "
    u"install wine).";

// Creates programFolder/clients and `folder`, one level each; errors
// (including folders that already exist) are ignored.
void createInstallFolders(const std::filesystem::path& programFolder, const std::filesystem::path& folder);

// Starts the selected entry's game in its installation folder: "Launching
// game..." on success; the not-found or could-not-start box (caption "Play")
// and log line otherwise. The result says whether it started.
bool launchGame(LauncherState& state, PageHost& host);
// Starts the game with "-sysconfig" in its folder. Not while busy.
void configureSelected(LauncherState& state, PageHost& host);
// Opens the installation folder (created first) in the file manager. Not while busy.
void openInstallFolder(LauncherState& state, PageHost& host);

}  // namespace mendly
