#pragma once
// Fetching a delta and rebuilding a file from it, for the download stage:
// the delta comes from one of the run's hosts (as any file: the run's rate
// limit, the cancel flag), is checked against the digest the manifest gives
// it, and rebuilds the entry's content from what is installed
// (delta_rebuild.h). The caller stages and checks the content like a body
// that arrived whole; on any failure it fetches the whole file.
//
// Runs on the calling worker thread; the buffers it fills are the caller's.
#include <cstdint>
#include <filesystem>
#include <string>

#include "net/rate_limit.h"
#include "patch/delta_rebuild.h"
#include "patch/host_pool.h"
#include "patch/manifest.h"

namespace mendly {

// What rebuilding by a delta needs to hold at most, for a MemoryBudget:
// the delta, the base of a member and the content.
std::uint64_t deltaMemoryNeed(const ManifestEntry& entry, const DeltaChoice& choice);

struct DeltaAttempt {
    bool rebuilt = false;
    std::uint64_t fetched = 0;  // bytes of the delta that arrived
    std::u16string why;         // when not rebuilt: for deltaFallbackLogLine
};

DeltaAttempt rebuildByDelta(const ManifestEntry& entry, const ManifestDelta& delta, HostPool& hosts,
                            TransferRateLimit* rateLimit, const std::filesystem::path& installDir,
                            ArchiveCache& archives, std::string& content);

}  // namespace mendly
