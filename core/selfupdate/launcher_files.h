#pragma once
// The suite's own files that the self-update may replace, and the fixed
// places beside the programs that the hand-over uses.
//
// On Linux the programs are "launcher", "tidewright" and "keelswap"; on
// Windows "launcher.exe", "tidewright.exe" and "keelswap.exe". The page
// engine is a system library, so there is no engine file to update.
// A new keelswap that keelswap could not put in place while it ran waits
// beside it as "keelswap.new" ("keelswap.exe.new" on Windows).
#include <array>
#include <filesystem>
#include <string_view>

namespace mendly {

#ifdef _WIN32
inline constexpr std::string_view kLauncherProgramName = "launcher.exe";
inline constexpr std::string_view kTidewrightProgramName = "tidewright.exe";
inline constexpr std::string_view kKeelswapProgramName = "keelswap.exe";
inline constexpr std::string_view kPendingKeelswapName = "keelswap.exe.new";
#else
inline constexpr std::string_view kLauncherProgramName = "launcher";
inline constexpr std::string_view kTidewrightProgramName = "tidewright";
inline constexpr std::string_view kKeelswapProgramName = "keelswap";
inline constexpr std::string_view kPendingKeelswapName = "keelswap.new";
#endif
inline constexpr std::string_view kStagingFolderName = ".launcher_update";
inline constexpr std::string_view kSkipSelfUpdateOption = "--skip-self-update";

inline constexpr std::array<std::string_view, 3> kUpdatableLauncherFiles{
    kLauncherProgramName, kKeelswapProgramName, kTidewrightProgramName};

// One of kUpdatableLauncherFiles, ASCII case ignored, after '\' -> '/'.
bool isUpdatableLauncherFile(std::string_view name);

std::filesystem::path keelswapPath(const std::filesystem::path& programFolder);
std::filesystem::path pendingKeelswapPath(const std::filesystem::path& programFolder);
std::filesystem::path launcherStagingFolder(const std::filesystem::path& programFolder);

}  // namespace mendly
