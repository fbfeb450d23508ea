#include "patch/run_summary.h"

#include <charconv>
#include <system_error>

#include "log/text.h"
#include "patch/disk_space_check.h"
#include "patch/staging_area.h"
#include "platform/disk.h"

namespace mendly {
namespace fs = std::filesystem;
namespace {

std::u16string twoDigits(std::int64_t n) { return (n < 10 ? u"0" : u"") + toDecimal(n); }

std::u16string elapsedText(std::chrono::milliseconds elapsed) {
    const std::int64_t ms = elapsed.count() > 0 ? elapsed.count() : 0;
    if (ms < 59950) {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(ms) / 1000.0,
                                          std::chars_format::fixed, 1);
        return toWide(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer))) + u" s";
    }
    const std::int64_t seconds = (ms + 500) / 1000;
    if (seconds < 3600) return toDecimal(seconds / 60) + u" min " + twoDigits(seconds % 60) + u" s";
    return toDecimal(seconds / 3600) + u" h " + twoDigits(seconds / 60 % 60) + u" min";
}

}  // namespace

DownloadPlan planDownload(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                          const StagingArea& staging) {
    DownloadPlan plan;
    std::uint64_t bytes = 0;
    bool sized = true;
    std::set<std::string> counted;
    for (const std::size_t index : list) {
        const ManifestEntry& entry = manifest.files[index];
        const std::string name = stagedNameFor(entry);
        if (!counted.insert(name).second) continue;
        // As the download stage sees it: a regular file (never a link) is reused.
        const fs::path staged = staging.pathFor(name);
        std::error_code ec;
        if (fs::is_regular_file(fs::symlink_status(staged, ec))) {
            const auto size = fs::file_size(staged, ec);
            ++plan.reusedFiles;
            plan.reusedBytes += ec ? 0 : static_cast<std::uint64_t>(size);
            continue;
        }
        ++plan.files;
        if (entry.size) bytes += *entry.size;
        else sized = false;
    }
    if (sized) plan.bytes = bytes;
    return plan;
}

std::u16string downloadPlanLine(const DownloadPlan& plan, std::optional<std::uint64_t> freeSpace) {
    std::u16string line = u"Download: ";
    if (plan.bytes) line += formatDiskSize(*plan.bytes) + u" in ";
    line += toDecimal(static_cast<long long>(plan.files)) + u" file(s)";
    if (freeSpace) line += u" (free space " + formatDiskSize(*freeSpace) + u")";
    return line;
}

std::optional<std::u16string> reuseLine(const DownloadPlan& plan) {
    if (plan.reusedFiles == 0) return std::nullopt;
    return u"Reusing " + formatDiskSize(plan.reusedBytes) + u" already downloaded";
}

std::u16string runSummaryLine(std::uint64_t fetched, std::uint64_t written, std::chrono::milliseconds elapsed) {
    return u"Fetched " + formatDiskSize(fetched) + u", wrote " + formatDiskSize(written) + u" in " +
           elapsedText(elapsed);
}

std::uint64_t bytesOfHolders(const std::set<std::string>& holders, const fs::path& installDir) {
    std::uint64_t total = 0;
    for (const std::string& key : holders) {
        std::error_code ec;
        const auto size = fs::file_size(installDir / fs::path(key), ec);
        if (!ec) total += static_cast<std::uint64_t>(size);
    }
    return total;
}

std::optional<std::uint64_t> freeSpaceAt(const fs::path& folder) {
    fs::path existing = folder;
    std::error_code ec;
    while (!fs::exists(existing, ec) && existing.has_relative_path() && existing.has_parent_path())
        existing = existing.parent_path();
    return platform::freeDiskSpace(existing);
}

}  // namespace mendly
