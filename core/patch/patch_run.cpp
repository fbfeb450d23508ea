#include "patch/patch_run.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <fstream>
#include <future>
#include <new>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include "log/log_file.h"
#include "log/text.h"
#include "patch/apply_stage.h"
#include "patch/archive_assembly.h"
#include "patch/archive_cache.h"
#include "patch/archive_paths.h"
#include "patch/archive_update.h"
#include "patch/cancel_flag.h"
#include "patch/converge_check.h"
#include "patch/disk_space_check.h"
#include "hash/digest.h"
#include "patch/download_stage.h"
#include "patch/manifest.h"
#include "patch/manifest_fetch.h"
#include "patch/manifest_policy.h"
#include "patch/patch_reporting.h"
#include "patch/run_record.h"
#include "patch/run_summary.h"
#include "patch/staging_area.h"
#include "patch/verify_stage.h"
#include "patch/select_stage.h"
#include "platform/install_lock.h"
#include "platform/memory.h"

namespace mendly {
namespace fs = std::filesystem;

namespace {

// The archives holding entries the manifest no longer lists (what pruning
// or the apply step will rewrite for them).
std::set<std::string> archivesOf(const ArchiveRemovals& orphans) {
    std::set<std::string> names;
    for (const auto& item : orphans) names.insert(item.first);
    return names;
}

// The run's hosts: the one the caller named, then the mirrors. Logged when there are several.
std::vector<PatchHostAddresses> runHosts(std::u16string_view manifestUrl, std::u16string_view filesBaseUrl,
                                         const PatchRunOptions& options) {
    std::vector<PatchHostAddresses> hosts{{std::u16string(manifestUrl), std::u16string(filesBaseUrl)}};
    hosts.insert(hosts.end(), options.mirrors.begin(), options.mirrors.end());
    return hosts;
}

void logHosts(const HostPool& hosts) {
    if (hosts.size() < 2) return;
    std::u16string line = u"Patch hosts: " + hosts.label(0);
    for (std::size_t i = 1; i < hosts.size(); ++i) line += u", " + hosts.label(i);
    LogFile::write(line);
}

// What an earlier run staged and this manifest no longer names is stale;
// the assemblies of archives that are still missing are kept.
void removeStaleStaging(const StagingArea& staging, const PatchManifest& manifest, const fs::path& installDir) {
    if (staging.isEmpty()) return;
    std::set<std::string> named;
    for (const ManifestEntry& entry : manifest.files) named.insert(stagedNameFor(entry));
    for (const std::string_view archive : archiveNameTable) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(archivePathFor(installDir, archive), ec))) continue;
        for (const std::string& name : assemblyStagedNames(archive)) named.insert(name);
    }
    staging.removeUnlisted(named);
}

// What one run works with once its manifest is there.
struct RunContext {
    PatchWindow* window;
    const PatchManifest& manifest;
    const fs::path& installDir;
    PatchMode mode;
    HostPool& hosts;
    const PatchRunOptions& options;
    TransferRateLimit* limit;  // may be null
    std::chrono::steady_clock::time_point started;
};

// Nothing needs patching: the orphans pruned, the record kept.
PatchOutcome finishUpToDate(const RunContext& run, const std::vector<std::size_t>& selected,
                            const VerifiedState& verified, const StagingArea& staging, RecordKeeping& keeping,
                            std::u16string& error) {
    const std::int32_t total = progressCount(std::max<std::size_t>(1, selected.size()));
    reportStatus(run.window, u"Verify done: all " + toDecimal(static_cast<long long>(selected.size())) +
                                 u" synced file(s) match.");
    reportProgress(run.window, total, total);
    if (!pruneOrphanArchiveEntries(run.window, run.installDir, verified.orphans, error)) return PatchOutcome::Failed;
    keeping.noteWritten(run.installDir);
    staging.removeAll();
    keeping.save(run.manifest, selected, run.installDir, run.mode);
    return PatchOutcome::Ok;
}

// Download, apply, the check after it and the record.
PatchOutcome patchEntries(const RunContext& run, const std::vector<std::size_t>& selected,
                          const VerifiedState& verified, const StagingArea& staging, RecordKeeping& keeping,
                          std::u16string& error) {
    const std::vector<std::size_t>& list = verified.list;
    DownloadResult downloads;
    ArchiveAssemblies assemblies;
    const DownloadSources sources{run.hosts, run.options.retry, run.options.serverName,
                                  keeping.previous ? &*keeping.previous : nullptr};
    const PatchOutcome fetched = runDownloadStage(run.window, run.manifest, list, sources, run.installDir, staging,
                                                  run.limit, assemblies, downloads, error);
    if (fetched != PatchOutcome::Ok) return fetched;
    if (!applyStagedFiles(run.window, run.manifest, downloads.slots, staging, run.installDir, run.mode,
                          verified.orphans, assemblies, error))
        return PatchOutcome::Failed;
    keeping.noteWritten(run.installDir);
    ArchiveCache written;  // the archives as this run leaves them
    if (const auto position = firstUnconvergedPosition(run.manifest, list, run.installDir, &keeping.afterWrite,
                                                       downloads.slots, assemblies, staging, written))
        return failedWithLog(error,
                             u"The installed files do not match the manifest after patching: " +
                                 toWide(run.manifest.files[list[*position]].relative),
                             u"ERROR: ");
    staging.removeAll();
    keeping.save(run.manifest, selected, run.installDir, run.mode, &written);
    const std::int32_t n = progressCount(list.size());
    reportProgress(run.window, n, n);
    reportStatusAndLog(run.window,
                       runSummaryLine(downloads.bytesReceived, bytesOfHolders(keeping.written, run.installDir),
                                      std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - run.started)));
    return PatchOutcome::Ok;
}

// Select, verify, then download and apply what differs.
PatchOutcome patchFromManifest(const RunContext& run, std::future<std::optional<InstallRecord>>& pendingRecord,
                               RecordKeeping& keeping, std::u16string& error) {
    const StagingArea staging(run.installDir);
    removeStaleStaging(staging, run.manifest, run.installDir);
    const std::vector<std::size_t> selected = selectEntries(run.window, run.manifest, run.mode);
    if (pendingRecord.valid()) keeping.previous = pendingRecord.get();
    const VerifiedState verified =
        verifyEntries(run.window, run.manifest, selected, run.installDir,
                      keeping.previous ? &*keeping.previous : nullptr, keeping.beforeRead, run.mode);
    if (isPatchCancelRequested()) return cancelledWithLog(error, u"Patch cancelled during verify");
    keeping.written = holdersWrittenBy(run.manifest, verified.list, run.installDir, archivesOf(verified.orphans));
    keeping.recordStands = keeping.previous && keeping.previous->manifestDigest() == keeping.manifestDigest &&
                           verified.fromRecord == selected.size() && keeping.written.empty();
    if (verified.list.empty()) return finishUpToDate(run, selected, verified, staging, keeping, error);
    return patchEntries(run, selected, verified, staging, keeping, error);
}

// The steps of one run: manifest, select, verify, download, apply. May throw
// std::bad_alloc or a file-system error, which runPatch turns into a message.
PatchOutcome runSteps(PatchWindow* window, std::u16string_view manifestUrl, std::u16string_view filesBaseUrl,
                      const TrustedKeys& trust, const fs::path& installDir, PatchMode mode,
                      const PatchRunOptions& options, std::u16string& error) {
    const auto started = std::chrono::steady_clock::now();
    if (isPatchCancelRequested()) {
        error = u"Cancelled";
        return PatchOutcome::Cancelled;
    }
    // A second run on the same installation (the launcher and tidewright, or
    // two of either) would fight over the staging folder and the archives.
    // Where no lock can be made at all, the run goes on as before.
    platform::InstallLock lock;
    if (lock.acquire(installDir) == platform::InstallLock::Outcome::Busy)
        return failedWithLog(error, u"Another program is updating this installation.", u"ERROR: ");
    removeLegacyStateFiles(installDir);
    recoverInterruptedArchiveUpdates(installDir);

    // One schedule for every transfer of the run, so the limit holds for all together.
    std::optional<TransferRateLimit> limit;
    if (options.rateLimit > 0) limit.emplace(options.rateLimit);
    HostPool hosts(runHosts(manifestUrl, filesBaseUrl, options));
    logHosts(hosts);
    auto pendingRecord = startRecordLoad(installDir, mode);
    PatchManifest manifest;
    RecordKeeping keeping;
    const PatchOutcome fetched =
        fetchRunManifest(window, ManifestSource{hosts, options.retry, options.serverName}, trust, installDir,
                         limit ? &*limit : nullptr, manifest, keeping.manifestDigest, error);
    if (fetched != PatchOutcome::Ok) return fetched;
    const RunContext run{window, manifest, installDir, mode, hosts, options, limit ? &*limit : nullptr, started};
    return patchFromManifest(run, pendingRecord, keeping, error);
}

}  // namespace

bool runPatch(PatchWindow* window, std::u16string_view manifestUrl, std::u16string_view filesBaseUrl,
              const fs::path& installDir, PatchMode mode, std::u16string& error) {
    return runPatch(window, manifestUrl, filesBaseUrl, TrustedKeys{}, installDir, mode, error);
}

bool runPatch(PatchWindow* window, std::u16string_view manifestUrl, std::u16string_view filesBaseUrl,
              const TrustedKeys& manifestTrust, const fs::path& installDir, PatchMode mode, std::u16string& error) {
    return runPatch(window, manifestUrl, filesBaseUrl, manifestTrust, installDir, mode, PatchRunOptions{}, error);
}

bool runPatch(PatchWindow* window, std::u16string_view manifestUrl, std::u16string_view filesBaseUrl,
              const TrustedKeys& manifestTrust, const fs::path& installDir, PatchMode mode,
              const PatchRunOptions& options, std::u16string& error) {
    return runPatchWithOutcome(window, manifestUrl, filesBaseUrl, manifestTrust, installDir, mode, options, error) ==
           PatchOutcome::Ok;
}

PatchOutcome runPatchWithOutcome(PatchWindow* window, std::u16string_view manifestUrl,
                                 std::u16string_view filesBaseUrl, const TrustedKeys& manifestTrust,
                                 const fs::path& installDir, PatchMode mode, const PatchRunOptions& options,
                                 std::u16string& error) {
    platform::shareHeapsAmongThreads();
    platform::keepFreedMemoryForReuse();
    std::u16string message;
    try {
        std::u16string stepError;
        const PatchOutcome outcome =
            runSteps(window, manifestUrl, filesBaseUrl, manifestTrust, installDir, mode, options, stepError);
        // A long-lived caller (the launcher) gets the run's memory back.
        platform::releaseFreeMemory();
        if (outcome != PatchOutcome::Ok) error = std::move(stepError);
        return outcome;
    } catch (const std::bad_alloc&) {
        message = u"Not enough memory to finish patching";
    } catch (const fs::filesystem_error& e) {
        message = u"Patching failed: " + toWide(e.what());
    } catch (const std::exception& e) {
        message = u"Patching failed: " + toWide(e.what());
    } catch (...) {
        message = u"Patching failed";
    }
    try {
        LogFile::write(u"ERROR: " + message);
        error = std::move(message);
    } catch (...) {
        error.clear();
    }
    return PatchOutcome::Failed;
}

}  // namespace mendly
