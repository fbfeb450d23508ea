#pragma once
// Fetching a delta for the download stage: the delta comes from one of the
// run's hosts (as any file: the run's rate limit, the cancel flag) and is
// checked against the digest the manifest gives it. The caller then rebuilds
// the entry's content from what is installed (delta_rebuild.h), stages and
// checks it like a body that arrived whole, and on any failure fetches the
// whole file.
//
// Runs on the calling worker thread; the buffers it fills are the caller's.
#include <cstdint>
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

// Fetches `delta` into `bytes` and checks it against the size and digest the
// manifest lists for it: true when it is the one listed; false with
// attempt.why saying what went wrong. attempt.fetched counts what arrived.
[[nodiscard]] bool fetchDelta(const ManifestDelta& delta, HostPool& hosts, TransferRateLimit* rateLimit,
                              std::string& bytes, DeltaAttempt& attempt);

// Notes in `attempt` how rebuilding from the fetched delta went.
void noteRebuild(RebuildOutcome outcome, DeltaAttempt& attempt);

}  // namespace mendly
