#pragma once
// The launcher's own settings, kept in launcher-settings.json beside the
// programs: the download limit set in the page, and the download that was
// paused (by Pause or by closing the window during a download), which the
// next start continues.
//
// Thread: the UI thread (read at start-up, written when a setting changes).
//
// {"downloadLimit":"5M","pausedDownload":{"launchAfter":false,"mode":"install","name":"loop"}}
// Members that are missing or do not read are taken as unset; a file that is
// missing or not JSON gives the defaults.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "patch/patch_mode.h"

namespace mendly {

inline constexpr char kLauncherSettingsFileName[] = "launcher-settings.json";

struct PausedDownload {
    std::string name;  // the catalog entry's name
    PatchMode mode = PatchMode::Install;
    bool launchAfter = false;  // the run was Play
};

struct LauncherSettings {
    std::uint64_t downloadLimit = 0;  // bytes per second for all transfers of a run; 0: none
    std::optional<PausedDownload> paused;
};

LauncherSettings loadLauncherSettings(const std::filesystem::path& programFolder);
// Replaces the file as a whole (a failed write keeps the old one); false when
// it could not be written.
[[nodiscard]] bool saveLauncherSettings(const std::filesystem::path& programFolder, const LauncherSettings& settings);

}  // namespace mendly
