#include "patch/download_stage.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/http_client.h"
#include "patch/archive_paths.h"
#include "patch/cancel_flag.h"
#include "patch/disk_space_check.h"
#include "patch/entry_digest.h"
#include "patch/patch_reporting.h"
#include "patch/speed_reporter.h"
#include "patch/staged_file.h"
#include "patch/transfer_estimate.h"
#include "patch/worker_count.h"
#include "platform/disk.h"

namespace mendly {
namespace {

// One staged file and the positions of the list it serves.
struct Job {
    std::string name;                    // staged name
    std::size_t index = 0;               // manifest index of the first entry (its address is used)
    std::vector<std::size_t> positions;  // in the list
};

std::vector<Job> planJobs(const PatchManifest& manifest, const std::vector<std::size_t>& list) {
    std::vector<Job> jobs;
    std::map<std::string, std::size_t> byName;
    for (std::size_t position = 0; position < list.size(); ++position) {
        const std::string name = stagedNameFor(manifest.files[list[position]]);
        const auto [it, added] = byName.emplace(name, jobs.size());
        if (added) jobs.push_back({name, list[position], {}});
        jobs[it->second].positions.push_back(position);
    }
    return jobs;
}

enum class Kind { Loose, Payload, Member };

// Archive members up to this size are received into memory and compressed
// from there (each transfer holds at most this much); larger ones stream to
// a file like everything else.
constexpr std::size_t kMemberInMemory = 4u << 20;

Kind kindOf(const ManifestEntry& entry) {
    const auto ref = classifyArchivePath(entry.relative);
    if (!ref) return Kind::Loose;
    return ref->hadPakPrefix ? Kind::Payload : Kind::Member;
}

// A count of free CPU slots. Its own mutex guards the count. A mutex and a
// condition variable rather than std::counting_semaphore: on targets without
// a futex (the Windows build), the standard library's semaphore can miss a
// release and leave a worker asleep with every slot free.
class CpuSlots {
public:
    explicit CpuSlots(unsigned count) : free_(count) {}
    void acquire() {
        std::unique_lock lock(mutex_);
        freed_.wait(lock, [this] { return free_ > 0; });
        --free_;
    }
    void release() {
        {
            const std::lock_guard lock(mutex_);
            ++free_;
        }
        freed_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    unsigned free_;
};

// Shared by the workers of one stage.
struct StageState {
    StageState(const PatchManifest& m, const std::vector<std::size_t>& l, std::u16string_view base, PatchWindow* w,
               const StagingArea& st, const std::filesystem::path& dir, std::vector<DownloadSlot>& s,
               TransferRateLimit* limit)
        : manifest(m), list(l), filesBaseUrl(base), window(w), staging(st), installDir(dir), slots(s),
          rateLimit(limit), progress(w, static_cast<std::int32_t>(l.size())) {}

    const PatchManifest& manifest;
    const std::vector<std::size_t>& list;
    std::u16string_view filesBaseUrl;
    PatchWindow* window;
    const StagingArea& staging;
    const std::filesystem::path& installDir;
    std::vector<DownloadSlot>& slots;
    TransferRateLimit* const rateLimit;  // may be null
    MonotonicProgress progress;

    std::atomic<std::uint64_t> next{0};
    std::atomic<std::int32_t> failed{0};
    std::atomic<std::int32_t> done{0};
    std::atomic<std::int32_t> reused{0};
    std::atomic<std::int32_t> endedJobs{0};
    std::atomic<std::int32_t> failedJobs{0};
    std::atomic<bool> gaveUp{false};
    std::atomic<std::uint64_t> bytesReceived{0};
    // What the byte reports count: bytes received and files found staged.
    std::atomic<std::uint64_t> bytesDone{0};
    std::mutex firstErrorMutex;
    std::u16string firstError;
    // The CPU work after a transfer (compressing a member, checking a payload,
    // hashing a file an earlier run staged) runs on at most one thread per
    // core, however many transfers are in flight.
    CpuSlots cpuSlots{workerCount(kTransfersInFlight)};
};

// Holds one of the stage's CPU slots for its lifetime.
class CpuSlot {
public:
    explicit CpuSlot(StageState& state) : state_(state) { state_.cpuSlots.acquire(); }
    ~CpuSlot() { state_.cpuSlots.release(); }
    CpuSlot(const CpuSlot&) = delete;
    CpuSlot& operator=(const CpuSlot&) = delete;

private:
    StageState& state_;
};

// One worker's own things.
struct WorkerContext {
    StageState& state;
    SpeedReporter& speed;
    vfile::CodecBuffers buffers;
};

void recordFailure(StageState& state, const Job& job, const std::u16string& url, const std::u16string& message) {
    state.failed.fetch_add(static_cast<std::int32_t>(job.positions.size()));
    if (state.failedJobs.fetch_add(1) < kLoggedDownloadFailures) LogFile::write(u"ERROR: " + url + u" \u2014 " + message);
    const std::lock_guard lock(state.firstErrorMutex);
    if (state.firstError.empty()) state.firstError = message;
}

std::u16string diskFullMessage(const StageState& state, std::uint64_t wanted) {
    const std::uint64_t free = platform::freeDiskSpace(state.staging.folder()).value_or(0);
    return notEnoughDiskSpace(state.installDir, std::max(wanted, free + 1), free);
}

// Turns a download (or an earlier run's file) whose MD5 matched into the
// staged file the apply step reads. An empty text on success, else the
// failure message.
std::u16string finishStaged(WorkerContext& ctx, const Job& job, const std::filesystem::path& asServed, Kind kind,
                            std::string& appliedName) {
    const ManifestEntry& entry = ctx.state.manifest.files[job.index];
    const CpuSlot cpu(ctx.state);
    const StagingArea& staging = ctx.state.staging;
    appliedName = job.name;
    StagingStatus status = StagingStatus::Ok;
    if (kind == Kind::Member) {
        status = writeStagedEntry(asServed, staging.pathFor(job.name), ctx.buffers);
        std::error_code ec;
        std::filesystem::remove(asServed, ec);
    } else if (kind == Kind::Payload) {
        bool converted = false;
        status = checkStagedPayload(asServed, staging.pathFor(job.name + ".converted"), converted, ctx.buffers);
        if (converted) appliedName = job.name + ".converted";
        if (status == StagingStatus::Failed) return u"Invalid single-file PAK payload: " + toWide(entry.relative);
    }
    if (status == StagingStatus::DiskFull) return diskFullMessage(ctx.state, entry.size.value_or(0));
    if (status == StagingStatus::Failed) return u"Cannot stage download: " + toWide(entry.relative);
    return {};
}

// A member that arrived in memory, compressed into its staged stored form.
std::u16string stageMemberFromMemory(WorkerContext& ctx, const Job& job, std::string_view contents) {
    const ManifestEntry& entry = ctx.state.manifest.files[job.index];
    StagingStatus status = StagingStatus::Ok;
    {
        const CpuSlot cpu(ctx.state);
        status = writeStagedEntryBytes(contents, ctx.state.staging.pathFor(job.name), ctx.buffers);
    }
    if (status == StagingStatus::DiskFull) return diskFullMessage(ctx.state, contents.size());
    if (status == StagingStatus::Failed) return u"Cannot stage download: " + toWide(entry.relative);
    return {};
}

// A file an earlier run staged under this job's name and that still
// matches; true when the job is done with it.
bool reuseStaged(WorkerContext& ctx, const Job& job, Kind kind, std::string& appliedName) {
    const ManifestEntry& entry = ctx.state.manifest.files[job.index];
    const std::filesystem::path path = ctx.state.staging.pathFor(job.name);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) return false;
    if (kind == Kind::Member) {
        appliedName = job.name;
        const CpuSlot cpu(ctx.state);
        return stagedEntryContentsMatch(path, entry, ctx.buffers);
    }
    bool matches = false;
    {
        const CpuSlot cpu(ctx.state);
        matches = fileMatchesEntry(path, entry);
    }
    return matches && finishStaged(ctx, job, path, kind, appliedName).empty();
}

// Fetches the job's file into staging; false when the worker must end
// (cancelled). Failures are recorded here.
bool fetchJob(WorkerContext& ctx, const Job& job, Kind kind, std::string& appliedName, bool& ok) {
    StageState& state = ctx.state;
    const ManifestEntry& entry = state.manifest.files[job.index];
    const std::u16string url = fileUrl(state.filesBaseUrl, entry);
    const std::filesystem::path target =
        state.staging.pathFor(kind == Kind::Member ? job.name + ".contents" : job.name);
    StagingWriter writer(entry, state.staging.pathFor(job.name + ".part"), entry.size,
                         kind == Kind::Member ? kMemberInMemory : 0);
    std::u16string error;
    if (!writer.open()) {
        recordFailure(state, job, url, u"Cannot stage download: " + toWide(entry.relative));
        return true;
    }
    const HttpBodySink sink = [&](std::string_view piece, std::u16string& sinkError) {
        state.bytesReceived.fetch_add(piece.size(), std::memory_order_relaxed);
        state.bytesDone.fetch_add(piece.size(), std::memory_order_relaxed);
        if (writer.write(piece)) return true;
        if (writer.writeFailed() &&
            classifyWriteFailure(state.staging.folder(), piece.size()) == StagingStatus::DiskFull)
            sinkError = diskFullMessage(state, entry.size.value_or(writer.received() + piece.size()));
        return false;
    };
    HttpRequestOptions options;
    options.cancel = &patchCancelFlag();
    options.rateLimit = state.rateLimit;
    const bool fetched = httpGetStream(url, sink, error, options);
    const bool closed = writer.close();
    if (!fetched && (isPatchCancelRequested() || error == u"Cancelled")) return false;
    if (writer.overLimit()) {
        error = u"Hash mismatch after download: " + toWide(entry.relative);
    } else if (fetched && !closed) {
        error = classifyWriteFailure(state.staging.folder(), 1) == StagingStatus::DiskFull
                    ? diskFullMessage(state, entry.size.value_or(writer.received()))
                    : u"Cannot stage download: " + toWide(entry.relative);
    } else if (fetched && !writer.matches(entry)) {
        error = u"Hash mismatch after download: " + toWide(entry.relative);
    } else if (fetched && writer.inMemory()) {
        error = stageMemberFromMemory(ctx, job, writer.memory());
        appliedName = job.name;
        ok = error.empty();
    } else if (fetched && !commitStaged(writer.partPath(), target)) {
        error = u"Cannot stage download: " + toWide(entry.relative);
    } else if (fetched) {
        error = finishStaged(ctx, job, target, kind, appliedName);
        ok = error.empty();
    } else if (error.empty()) {
        error = u"Download failed";
    }
    if (!ok) recordFailure(state, job, url, error);
    return true;
}

#ifdef MENDLY_INJECT_RACE
// A deliberate data race (a test-only build, scripts/check-tsan.sh): proves
// that the ThreadSanitizer stage still reports races in this code.
int g_injectedRace = 0;
#endif

// Counts a finished job; true when so many failed that no more should start.
bool shouldGiveUp(StageState& state) {
#ifdef MENDLY_INJECT_RACE
    ++g_injectedRace;
#endif
    const std::int32_t ended = state.endedJobs.fetch_add(1) + 1;
    if (ended < kGiveUpAfterDownloads || state.failedJobs.load() * 2 <= ended) return false;
    state.gaveUp.store(true);
    return true;
}

// One job; false when the worker must end (cancelled). Never throws.
bool runJob(WorkerContext& ctx, const Job& job) {
    StageState& state = ctx.state;
    const Kind kind = kindOf(state.manifest.files[job.index]);
    std::string appliedName;
    bool ok = false;
    try {
        if (reuseStaged(ctx, job, kind, appliedName)) {
            ok = true;
            state.reused.fetch_add(1);
            state.bytesDone.fetch_add(state.manifest.files[job.index].size.value_or(0), std::memory_order_relaxed);
        } else if (!fetchJob(ctx, job, kind, appliedName, ok)) {
            return false;
        }
    } catch (...) {
        try {
            recordFailure(state, job, fileUrl(state.filesBaseUrl, state.manifest.files[job.index]), u"Download failed");
        } catch (...) {
            state.failed.fetch_add(static_cast<std::int32_t>(job.positions.size()));
        }
        return true;
    }
    if (!ok) return true;
    for (const std::size_t position : job.positions) {
        state.slots[position].stagedName = appliedName;
        state.slots[position].ok = true;
    }
    const auto count = static_cast<std::int32_t>(job.positions.size());
    const std::int32_t done = state.done.fetch_add(count) + count;
    try {
        state.progress.report(done);
        ctx.speed.tick();
    } catch (...) {
        // A report that could not be allocated is lost; the file itself is safe.
    }
    return true;
}

}  // namespace

std::string stagedNameFor(const ManifestEntry& entry) {
    switch (kindOf(entry)) {
        case Kind::Member: return StagingArea::nameFor(entry, StagedForm::StoredEntry);
        case Kind::Payload: return StagingArea::nameFor(entry, StagedForm::Payload);
        case Kind::Loose: break;
    }
    return StagingArea::nameFor(entry, StagedForm::AsServed);
}

DownloadResult downloadFiles(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                             std::u16string_view filesBaseUrl, PatchWindow* window, const StagingArea& staging,
                             const std::filesystem::path& installDir, TransferRateLimit* rateLimit) {
    DownloadResult result;
    result.slots.resize(list.size());
    for (std::size_t position = 0; position < list.size(); ++position) result.slots[position].index = list[position];
    const std::vector<Job> jobs = planJobs(manifest, list);
    StageState state(manifest, list, filesBaseUrl, window, staging, installDir, result.slots, rateLimit);
    SpeedReporter speed(state.bytesReceived, window);
    std::uint64_t bytesTotal = 0;
    for (const Job& job : jobs) {
        const auto size = manifest.files[job.index].size;
        if (!size) {
            bytesTotal = 0;  // without every size no total is known
            break;
        }
        bytesTotal += *size;
    }

    auto worker = [&] {
        WorkerContext ctx{state, speed, {}};
        while (!isPatchCancelRequested() && !state.gaveUp.load()) {
            const std::uint64_t job = state.next.fetch_add(1);
            if (job >= jobs.size()) return;
            if (!runJob(ctx, jobs[static_cast<std::size_t>(job)])) return;
            if (shouldGiveUp(state)) return;
        }
    };

    {
        const TransferReporter bytes(state.bytesDone, bytesTotal, window);  // reports until the workers ended
        std::vector<std::jthread> workers;
        const unsigned count = transferCount(static_cast<std::int64_t>(jobs.size()));
        workers.reserve(count);
        for (unsigned w = 0; w < count; ++w) workers.emplace_back(worker);
    }  // joined here

    result.failed = state.failed.load();
    result.firstError = std::move(state.firstError);
    result.bytesReceived = state.bytesReceived.load();
    result.reused = state.reused.load();
    result.gaveUp = state.gaveUp.load();
    return result;
}

}  // namespace mendly
