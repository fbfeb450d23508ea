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
#include "patch/local_verification.h"
#include "patch/manifest.h"
#include "patch/manifest_fetch.h"
#include "patch/manifest_policy.h"
#include "patch/patch_reporting.h"
#include "patch/run_record.h"
#include "patch/run_summary.h"
#include "patch/staging_area.h"
#include "platform/install_lock.h"
#include "platform/memory.h"

namespace mendly {
namespace fs = std::filesystem;

namespace {

constexpr std::u16string_view kDash = u" \u2014 ";

std::u16string pathText(const fs::path& path) { return toWide(path.string()); }

bool cancelled(std::u16string& error, std::u16string_view logLine) {
    error = u"Cancelled";
    LogFile::write(logLine);
    return false;
}

// The indices `mode` covers, in manifest order (with the skip status in Update mode).
std::vector<std::size_t> selectEntries(PatchWindow* window, const PatchManifest& manifest, PatchMode mode) {
    std::vector<std::size_t> selected;
    for (std::size_t i = 0; i < manifest.files.size(); ++i)
        if (isSelectedForMode(manifest.files[i], mode)) selected.push_back(i);
    const std::size_t skipped = manifest.files.size() - selected.size();
    if ((mode == PatchMode::Update || mode == PatchMode::Verify) && skipped > 0)
        reportStatus(window, u"Skipping " + toDecimal(static_cast<long long>(skipped)) +
                                 u" user ini file(s) (keeping ini/updater.ini and ini/hash.ini)");
    return selected;
}

// What verification found: the selected entries that need patching, sorted
// by relative path, how many of them the record vouched for, and the archive
// entries the manifest no longer lists (none in ResetIni mode).
struct VerifiedState {
    std::vector<std::size_t> list;
    std::size_t fromRecord = 0;
    ArchiveRemovals orphans;
};

// Every holder is stamped into `stamps` before it is read; entries the record
// vouches for are not read. Each archive directory is read once for both.
VerifiedState verifyEntries(PatchWindow* window, const PatchManifest& manifest,
                            const std::vector<std::size_t>& selected, const fs::path& installDir,
                            const InstallRecord* record, HolderStamps& stamps, PatchMode mode) {
    reportStage(window, PatchStage::Verify);
    reportProgress(window, 0, progressCount(std::max<std::size_t>(1, selected.size())));
    VerifiedState state;
    ArchiveCache cache;
    VerificationResult result = verifyLocalFiles(manifest, selected, installDir, window, cache, record, stamps);
    state.list = std::move(result.needPatching);
    state.fromRecord = result.fromRecord;
    std::sort(state.list.begin(), state.list.end(),
              [&](std::size_t a, std::size_t b) { return manifest.files[a].relative < manifest.files[b].relative; });
    if (mode != PatchMode::ResetIni && !isPatchCancelRequested())
        findOrphanEntries(installDir, buildManifestMemberSet(manifest), cache, state.orphans);
    return state;
}

// The installation's record, read on a thread of its own while the manifest
// is fetched (Update runs only; the others hash everything).
std::future<std::optional<InstallRecord>> startRecordLoad(const fs::path& installDir, PatchMode mode) {
    if (mode != PatchMode::Update) return {};
    const auto load = [installDir] { return InstallRecord::load(installDir); };
    try {
        return std::async(std::launch::async, load);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, load);  // no thread to be had: read it when needed
    }
}

// Fetches `list` into staging; false with the run's error unless every file arrived.
// New archives are assembled in `assemblies` as their members arrive.
bool downloadEntries(PatchWindow* window, const PatchManifest& manifest, const std::vector<std::size_t>& list,
                     DownloadSources sources, const fs::path& installDir, const StagingArea& staging,
                     TransferRateLimit* limit, ArchiveAssemblies& assemblies, DownloadResult& downloads,
                     std::u16string& error) {
    const std::int32_t n = progressCount(list.size());
    reportStatus(window, u"Verify done: " + toDecimal(n) + u" file(s) need patching");
    if (const auto full = checkDiskSpaceForPatch(manifest, list, installDir, staging))
        return failWithLog(error, *full, u"ERROR: ");
    const DownloadPlan plan = planDownload(manifest, list, staging);
    reportStatusAndLog(window, downloadPlanLine(plan, freeSpaceAt(staging.folder())));
    if (const auto reuse = reuseLine(plan)) reportStatusAndLog(window, *reuse);
    if (!staging.create()) return failWithLog(error, u"Cannot write: " + pathText(staging.folder()), u"ERROR: ");
    assemblies = openAssemblies(manifest, list, installDir, staging);
    sources.assemblies = &assemblies;
    reportStage(window, PatchStage::Download);
    reportProgress(window, 0, n);
    downloads = downloadFiles(manifest, list, sources, window, staging, installDir, limit);
    sources.hosts.logSummary();
    if (isPatchCancelRequested()) return cancelled(error, u"Patch cancelled during download");
    if (downloads.failed > 0) {
        error = downloads.firstError.empty() ? std::u16string(u"One or more downloads failed") : downloads.firstError;
        LogFile::write(u"ERROR: Patch failed" + std::u16string(kDash) + toDecimal(downloads.failed) + u" / " +
                       toDecimal(n) + u" downloads failed" +
                       (downloads.gaveUp ? u" (gave up early: the rest were not tried)" : u""));
        return false;
    }
    if (isPatchCancelRequested()) return cancelled(error, u"Patch cancelled before apply");
    // Every slot is filled unless a cancellation cut the stage short and the
    // flag was cleared again since; applying missing files would destroy files.
    if (!std::all_of(downloads.slots.begin(), downloads.slots.end(), [](const DownloadSlot& s) { return s.ok; }))
        return cancelled(error, u"Patch cancelled during download");
    return true;
}

// The archives holding entries the manifest no longer lists (what pruning
// or the apply step will rewrite for them).
std::set<std::string> archivesOf(const ArchiveRemovals& orphans) {
    std::set<std::string> names;
    for (const auto& item : orphans) names.insert(item.first);
    return names;
}

// What a run carries from verification to its record.
struct RecordKeeping {
    std::string manifestDigest;
    std::optional<InstallRecord> previous;  // read in Update runs only
    HolderStamps beforeRead;
    HolderStamps afterWrite;
    std::set<std::string> written;
    // True when the run neither wrote anything nor read anything the previous
    // record did not vouch for, against the same manifest: that record
    // already says what a new one would, and is kept as it is.
    bool recordStands = false;

    // Stamps what the apply step wrote, before the final check reads it.
    void noteWritten(const fs::path& installDir) {
        for (const std::string& key : written) (void)afterWrite.noteNow(key, installDir / fs::path(key));
    }
    // Replaces the record after a successful run (not for an INI reset, which
    // verifies too little to vouch for the rest). A record that cannot be
    // written costs the next run a full verification, not this run its result.
    void save(const PatchManifest& manifest, const std::vector<std::size_t>& selected, const fs::path& installDir,
              PatchMode mode) const {
        if (mode == PatchMode::ResetIni || recordStands) return;
        const InstallRecord record =
            buildRunRecord(manifest, manifestDigest, selected, installDir, beforeRead, afterWrite, written);
        if (!record.save(installDir))
            LogFile::write(u"ERROR: Cannot write: " + pathText(installDir / kInstallRecordFileName));
    }
};

// The steps of one run: manifest, select, verify, download, apply. May throw
// std::bad_alloc or a file-system error, which runPatch turns into a message.
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

bool runSteps(PatchWindow* window, std::u16string_view manifestUrl, std::u16string_view filesBaseUrl,
              const TrustedKeys& trust, const fs::path& installDir, PatchMode mode, const PatchRunOptions& options,
              std::u16string& error) {
    const auto started = std::chrono::steady_clock::now();
    if (isPatchCancelRequested()) {
        error = u"Cancelled";
        return false;
    }
    // A second run on the same installation (the launcher and tidewright, or
    // two of either) would fight over the staging folder and the archives.
    // Where no lock can be made at all, the run goes on as before.
    platform::InstallLock lock;
    if (lock.acquire(installDir) == platform::InstallLock::Outcome::Busy)
        return failWithLog(error, u"Another program is updating this installation.", u"ERROR: ");
    removeLegacyStateFiles(installDir);
    recoverInterruptedArchiveUpdates(installDir);

    // One schedule for every transfer of the run, so the limit holds for all together.
    std::optional<TransferRateLimit> limit;
    if (options.rateLimit > 0) limit.emplace(options.rateLimit);
    TransferRateLimit* const limitOrNull = limit ? &*limit : nullptr;

    HostPool hosts(runHosts(manifestUrl, filesBaseUrl, options));
    logHosts(hosts);
    auto pendingRecord = startRecordLoad(installDir, mode);
    PatchManifest manifest;
    RecordKeeping keeping;
    if (!fetchRunManifest(window, ManifestSource{hosts, options.retry, options.serverName}, trust, installDir,
                          limitOrNull, manifest, keeping.manifestDigest, error))
        return false;
    // What an earlier run staged and this manifest no longer names is stale.
    const StagingArea staging(installDir);
    {
        std::set<std::string> named;
        for (const ManifestEntry& entry : manifest.files) named.insert(stagedNameFor(entry));
        for (const std::string_view archive : archiveNameTable) {
            std::error_code ec;
            if (fs::exists(fs::symlink_status(archivePathFor(installDir, archive), ec))) continue;
            for (const std::string& name : assemblyStagedNames(archive)) named.insert(name);
        }
        staging.removeUnlisted(named);
    }

    const std::vector<std::size_t> selected = selectEntries(window, manifest, mode);
    if (pendingRecord.valid()) keeping.previous = pendingRecord.get();
    const VerifiedState verified = verifyEntries(window, manifest, selected, installDir,
                                                 keeping.previous ? &*keeping.previous : nullptr,
                                                 keeping.beforeRead, mode);
    if (isPatchCancelRequested()) return cancelled(error, u"Patch cancelled during verify");
    const std::vector<std::size_t>& list = verified.list;
    keeping.written = holdersWrittenBy(manifest, list, installDir, archivesOf(verified.orphans));
    keeping.recordStands = keeping.previous && keeping.previous->manifestDigest() == keeping.manifestDigest &&
                           verified.fromRecord == selected.size() && keeping.written.empty();

    if (list.empty()) {
        const std::int32_t total = progressCount(std::max<std::size_t>(1, selected.size()));
        reportStatus(window, u"Verify done: all " + toDecimal(static_cast<long long>(selected.size())) +
                                 u" synced file(s) match.");
        reportProgress(window, total, total);
        if (!pruneOrphanArchiveEntries(window, installDir, verified.orphans, error)) return false;
        keeping.noteWritten(installDir);
        staging.removeAll();
        keeping.save(manifest, selected, installDir, mode);
        return true;
    }

    DownloadResult downloads;
    ArchiveAssemblies assemblies;
    const DownloadSources sources{hosts, options.retry, options.serverName,
                                  keeping.previous ? &*keeping.previous : nullptr};
    if (!downloadEntries(window, manifest, list, sources, installDir, staging, limitOrNull, assemblies, downloads,
                         error))
        return false;
    if (!applyStagedFiles(window, manifest, downloads.slots, staging, installDir, mode, verified.orphans, assemblies,
                          error))
        return false;
    keeping.noteWritten(installDir);
    if (const auto position = firstUnconvergedPosition(manifest, list, installDir, &keeping.afterWrite,
                                                       downloads.slots, assemblies))
        return failWithLog(error,
                           u"The installed files do not match the manifest after patching: " +
                               toWide(manifest.files[list[*position]].relative),
                           u"ERROR: ");
    staging.removeAll();
    keeping.save(manifest, selected, installDir, mode);
    const std::int32_t n = progressCount(list.size());
    reportProgress(window, n, n);
    reportStatusAndLog(window, runSummaryLine(downloads.bytesReceived, bytesOfHolders(keeping.written, installDir),
                                              std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - started)));
    return true;
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
    std::u16string message;
    try {
        std::u16string stepError;
        const bool ok =
            runSteps(window, manifestUrl, filesBaseUrl, manifestTrust, installDir, mode, options, stepError);
        // A long-lived caller (the launcher) gets the run's memory back.
        platform::releaseFreeMemory();
        if (ok) return true;
        error = std::move(stepError);
        return false;
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
    return false;
}

}  // namespace mendly
