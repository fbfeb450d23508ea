#include "patch/disk_space_check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>

#include "catalog/path_text.h"
#include "log/text.h"
#include "patch/archive_paths.h"
#include "patch/staging_area.h"
#include "platform/disk.h"

namespace mendly {
namespace fs = std::filesystem;

std::u16string formatDiskSize(std::uint64_t bytes) {
    constexpr double kMiB = 1048576.0;
    constexpr double kGiB = 1073741824.0;
    char text[64];
    // Just below 1 GiB "%.1f MB" would round up to "1024.0 MB".
    if (static_cast<double>(bytes) < kGiB - 0.05 * kMiB)
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / kMiB);
    else
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / kGiB);
    std::string out(text);
    std::replace(out.begin(), out.end(), ',', '.');  // whatever the process locale says
    return toWide(out);
}

std::u16string notEnoughDiskSpace(const fs::path& folder, std::uint64_t needed, std::uint64_t free) {
    return u"Not enough disk space in " + pathText(folder) + u": " + formatDiskSize(needed) + u" needed, " +
           formatDiskSize(free) + u" free";
}

std::optional<std::uint64_t> bytesNeededForPatch(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                                 const fs::path& installDir, const StagingArea& staging) {
    std::uint64_t fetch = 0;
    std::map<std::string, std::uint64_t> archiveGrowth;
    std::set<std::string> counted;
    for (const std::size_t index : list) {
        const ManifestEntry& entry = manifest.files[index];
        if (!entry.size) return std::nullopt;
        const std::string name = stagedNameFor(entry);
        if (const auto ref = classifyArchivePath(entry.relative)) archiveGrowth[ref->archiveName] += *entry.size;
        if (!counted.insert(name).second) continue;
        std::error_code ec;
        if (fs::is_regular_file(staging.pathFor(name), ec)) continue;  // staged by an earlier run
        fetch += *entry.size;
    }
    std::uint64_t largestArchive = 0;
    for (const auto& [archive, growth] : archiveGrowth) {
        std::error_code ec;
        const auto current = fs::file_size(archivePathFor(installDir, archive), ec);
        largestArchive = std::max(largestArchive, (ec ? 0 : static_cast<std::uint64_t>(current)) + growth);
    }
    return fetch + largestArchive;
}

std::optional<std::u16string> checkDiskSpaceForPatch(const PatchManifest& manifest,
                                                     const std::vector<std::size_t>& list, const fs::path& installDir,
                                                     const StagingArea& staging) {
    const auto needed = bytesNeededForPatch(manifest, list, installDir, staging);
    if (!needed) return std::nullopt;
    // The folders may not exist yet (a fresh install): ask the volume of the
    // nearest one that does.
    fs::path existing = staging.folder();
    std::error_code ec;
    while (!fs::exists(existing, ec) && existing.has_relative_path() && existing.has_parent_path())
        existing = existing.parent_path();
    const auto free = platform::freeDiskSpace(existing);
    if (!free || *free >= *needed) return std::nullopt;
    return notEnoughDiskSpace(installDir, *needed, *free);
}

}  // namespace mendly
