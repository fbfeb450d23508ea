#pragma once
// The download stage of a patch run: every entry that needs patching is
// fetched from the patch server in parallel and streamed into the
// installation's staging folder (staging_area.h), hashed as it arrives (a
// body kept in memory is hashed whole once it is complete, its MD5 beside
// other transfers' bodies: md5_gatherer.h); a file an earlier run already
// staged and that still verifies is used instead of fetching it again.
// Archive members are compressed into their stored form and single-file
// payloads checked on the same workers, so that work runs in parallel.
// Memory per transfer is a fixed buffer whatever the file's size.
//
// Threads: kTransfersInFlight transfer threads (fewer when there is less
// work); the CPU work after a transfer is limited to one thread per core and
// one more by a count of CPU slots of the stage (its own mutex). The stage's counters are
// atomics, the first error has its own mutex, each slot is written only by
// the thread of its staged file; the caller reads the result after the
// threads have been joined.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/rate_limit.h"
#include "net/retry_policy.h"
#include "patch/archive_assembly.h"
#include "patch/host_pool.h"
#include "patch/install_record.h"
#include "patch/manifest.h"
#include "patch/patch_outcome.h"
#include "patch/patch_window.h"
#include "patch/staging_area.h"

namespace mendly {

// One position of the download list. Owned by the worker of its staged file
// until the stage ends, then read by the apply step.
struct DownloadSlot {
    std::size_t index = 0;   // manifest index
    std::string stagedName;  // the staged file to apply (in the staging folder)
    bool ok = false;         // the file is staged and matched the MD5
    bool assembled = false;  // an archive member already written into its archive's assembly
};

struct DownloadResult {
    std::vector<DownloadSlot> slots;  // one per position of the list, same order
    std::int32_t failed = 0;          // failed transfers, MD5 mismatches and staging failures
    std::u16string firstError;        // the first failure message any worker recorded
    std::uint64_t bytesReceived = 0;  // every body byte that arrived
    std::int32_t reused = 0;          // staged files found from an earlier run
    bool gaveUp = false;              // too many failures: the rest was never started
};

// The stage gives up (starts no more transfers) once at least this many
// downloads have ended and more than half of them failed: a host that fails
// everything is not asked for a million files. The log lists at most
// kLoggedDownloadFailures failures one by one.
inline constexpr std::int32_t kGiveUpAfterDownloads = 32;
inline constexpr std::int32_t kLoggedDownloadFailures = 100;

// Where a stage fetches its files from and how it asks again.
struct DownloadSources {
    HostPool& hosts;
    const RetryPolicy& retry;
    std::u16string_view serverName;  // names the server in a failure's context line; may be empty
    // What the installation holds (Update runs): an entry whose installed
    // content is the base of one of its deltas is rebuilt from a delta
    // (delta_download.h) before it is fetched whole. May be null.
    const InstallRecord* record = nullptr;
    // New archives assembled where their members arrive (archive_assembly.h):
    // a member that arrives in memory and whose every position belongs to
    // one of them is appended there instead of staged (its slots then say
    // `assembled`). May be null.
    ArchiveAssemblies* assemblies = nullptr;
};

// Fetches manifest.files[i] for every i of `list` (N = list.size() >= 1) from
// under filesBaseUrl into `staging` (which must exist) with up to
// kTransfersInFlight transfers at once. Entries that share a staged name (same MD5 and form) are fetched
// once. Each file is requested at most once; a failure is logged ("ERROR: " +
// url + " — " + message), counted for every position it serves, and the
// other files still download. A full disk gives the sentence of
// notEnoughDiskSpace for installDir. Progress (done, N) per staged position
// and now and then "Downloading files (<speed>)" come from the worker
// threads, and twice a second the stage's bytes with speed and time left
// (reportTransfer; files found staged count as done). Progress never steps
// back. Every transfer waits its turn at `rateLimit` when it is not null. A
// cancellation ends the workers quietly: nothing is counted or
// logged for the transfers it cut short, and their slots stay not ok. The
// caller has sent the statuses and (0, N) before, and checks the cancel flag
// afterwards.
DownloadResult downloadFiles(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                             std::u16string_view filesBaseUrl, PatchWindow* window, const StagingArea& staging,
                             const std::filesystem::path& installDir, TransferRateLimit* rateLimit = nullptr);

// The same from the hosts of `sources` (a file from any of them, picked by
// HostPool::pick). A transfer that fails is tried again:
// - from another host that has not failed this file, at once, when there is
//   one (the failing host is demoted);
// - otherwise, for a transient failure (isTransientFailure), from the same
//   host after the policy's pause, up to its number of attempts and within
//   its budget of time; each pause
//   is announced by a status (retryLine) and its failure logged as
//   "WARNING: " + url + " — " + message.
// A host that is demoted while a transfer of it runs loses that transfer,
// which goes on from another host. A file fails only when no host is left
// for it; its sentence (firstError) is then followed by the line of
// fileContext naming the last host asked. Failures on this side (staging,
// disk) are not the host's and are not tried again.
DownloadResult downloadFiles(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                             const DownloadSources& sources, PatchWindow* window, const StagingArea& staging,
                             const std::filesystem::path& installDir, TransferRateLimit* rateLimit = nullptr);

// The download step of a run: the status "Verify done: N file(s) need
// patching", the free-space check, the plan's line ("Download: ...") and the
// reuse line, the staging folder made, an assembly opened for every new
// archive (archive_assembly.h; into `assemblies`), stage Download and
// progress (0, N), then downloadFiles from `sources`, whose hosts' summary is
// logged. Ok when every file of `list` arrived; Cancelled (`error`
// "Cancelled", logged "Patch cancelled during download" or "... before
// apply"); Failed with the first failure's sentence, logged "ERROR: Patch
// failed — k / N downloads failed".
[[nodiscard]] PatchOutcome runDownloadStage(PatchWindow* window, const PatchManifest& manifest,
                                            const std::vector<std::size_t>& list, DownloadSources sources,
                                            const std::filesystem::path& installDir, const StagingArea& staging,
                                            TransferRateLimit* limit, ArchiveAssemblies& assemblies,
                                            DownloadResult& downloads, std::u16string& error);

}  // namespace mendly
