#pragma once
// An interrupted install (Ctrl+C, Stop, a failed download): the installation
// folder holds no complete client, yet its staging folder holds downloads that
// the next run reuses instead of fetching them again. Such an installation is
// shown as partly downloaded and is carried on by an update of every
// installed client. Runs on the calling thread; only reads the file system.
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace mendly {

// Bytes an interrupted install left staged in `folder` for the next run
// (StagingArea::measure); 0 when a client is installed there (isInstalled with
// `launchExecutable`) or nothing reusable is staged.
std::uint64_t interruptedInstallBytes(const std::filesystem::path& folder, std::string_view launchExecutable);

// interruptedInstallBytes > 0: an update of every installed client installs
// this one too, reusing what is staged.
bool isInterruptedInstall(const std::filesystem::path& folder, std::string_view launchExecutable);

}  // namespace mendly
