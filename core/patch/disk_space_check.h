#pragma once
// Free disk space for a patch run: the sentence a user sees when the
// installation's volume is too full, and the check made before downloading
// when the manifest declares file sizes. The functions only read the file
// system and are safe from any thread.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "patch/manifest.h"
#include "patch/staging_area.h"

namespace mendly {

// Bytes as MB below 1 GiB, else GB, with one decimal ("12.5 MB", "2.0 GB";
// 1 MB = 1048576 bytes).
std::u16string formatDiskSize(std::uint64_t bytes);

// "Not enough disk space in " + folder + ": " + needed + " needed, " + free + " free".
std::u16string notEnoughDiskSpace(const std::filesystem::path& folder, std::uint64_t needed, std::uint64_t free);

// Bytes a run needs on the installation's volume to fetch the entries of
// `list` (those not yet staged) and rewrite the largest archive they touch
// (its current size plus what is fetched for it); nothing when an entry of
// the list has no declared size.
std::optional<std::uint64_t> bytesNeededForPatch(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                                 const std::filesystem::path& installDir, const StagingArea& staging);

// The disk-space sentence when the volume holding installDir has less free
// space than bytesNeededForPatch; nothing when it has enough or either number
// is unknown.
std::optional<std::u16string> checkDiskSpaceForPatch(const PatchManifest& manifest,
                                                     const std::vector<std::size_t>& list,
                                                     const std::filesystem::path& installDir,
                                                     const StagingArea& staging);

}  // namespace mendly
