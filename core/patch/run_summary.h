#pragma once
// The sizes a patch run reports around its download: what it is about to
// fetch (and the free space beside it), what an earlier run left staged and
// this one reuses, and at its end what it fetched, wrote and how long it
// took. Sizes are formatDiskSize's (MB below 1 GB, else GB, one decimal,
// 1 MB = 1048576 bytes, as the speed text counts). The functions only read the
// file system and are safe from any thread.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "patch/manifest.h"
#include "patch/staging_area.h"

namespace mendly {

// What the download stage of a run will do for its list.
struct DownloadPlan {
    std::size_t files = 0;               // staged files to fetch (entries sharing one count once)
    std::optional<std::uint64_t> bytes;  // their declared sizes; nothing when one has none
    std::size_t reusedFiles = 0;         // staged files an earlier run left for this one
    std::uint64_t reusedBytes = 0;       // their sizes on disk
};

// The plan for the entries of `list` (manifest indices) with `staging` as it
// is now.
DownloadPlan planDownload(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                          const StagingArea& staging);

// "Download: 56.2 MB in 43 file(s)" plus " (free space 12.3 GB)" when `freeSpace`
// is known; "Download: 43 file(s)" when the size is not.
std::u16string downloadPlanLine(const DownloadPlan& plan, std::optional<std::uint64_t> freeSpace);

// "Reusing 45.1 MB already downloaded"; nothing when the plan reuses nothing.
std::optional<std::u16string> reuseLine(const DownloadPlan& plan);

// "Fetched 5.6 MB, wrote 18.0 MB in 0.4 s": tenths of a second below a
// minute, then "3 min 05 s", from an hour on "1 h 05 min" (rounded down).
std::u16string runSummaryLine(std::uint64_t fetched, std::uint64_t written, std::chrono::milliseconds elapsed);

// The sizes of the files `holders` names under installDir (keys as the run
// record spells them), missing ones counting 0: what the apply step wrote.
std::uint64_t bytesOfHolders(const std::set<std::string>& holders, const std::filesystem::path& installDir);

// Free bytes on the volume that holds `folder`, or its nearest existing parent
// (a fresh install's folder may not exist yet); nothing when unknown.
std::optional<std::uint64_t> freeSpaceAt(const std::filesystem::path& folder);

}  // namespace mendly
