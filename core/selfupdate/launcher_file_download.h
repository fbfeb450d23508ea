#pragma once
// Downloading one published launcher file into the staging folder.
//
// The body is written to the staged path as it arrives and hashed on the way
// (SHA-256); nothing of it is held in memory. It is read only up to the size
// latest.json declares (one byte more ends the download at once as a size
// mismatch), or up to kLauncherFileLimit when no size is declared.
// Runs on the caller's thread.
#include <cstdint>
#include <filesystem>
#include <string>

#include "selfupdate/launcher_manifest.h"

namespace mendly {

inline constexpr std::uint64_t kLauncherFileLimit = 256ull << 20;

enum class LauncherFileOutcome { Staged, DownloadFailed, SizeMismatch, HashMismatch, WriteFailed };

struct LauncherFileDownload {
    LauncherFileOutcome outcome = LauncherFileOutcome::DownloadFailed;
    // DownloadFailed: the download sentence (may be empty); WriteFailed:
    // "Cannot write: " or "Short write: " + the staged path.
    std::u16string problem;
};

LauncherFileDownload downloadLauncherFile(std::u16string_view address, const LauncherFileEntry& entry,
                                          const std::filesystem::path& stagedPath);

}  // namespace mendly
