#include "patch/download_stage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "hash/digest.h"
#include "hash/md5_gatherer.h"
#include "hash/md5_lanes.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/http_client.h"
#include "catalog/path_text.h"
#include "patch/archive_paths.h"
#include "patch/run_summary.h"
#include "patch/cancel_flag.h"
#include "patch/delta_download.h"
#include "patch/delta_rebuild.h"
#include "patch/disk_space_check.h"
#include "patch/entry_digest.h"
#include "patch/fetch_context.h"
#include "patch/memory_budget.h"
#include "patch/patch_reporting.h"
#include "patch/speed_reporter.h"
#include "patch/staged_file.h"
#include "patch/transfer_estimate.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/format.h"
#include "patch/worker_count.h"
#include <fstream>
#include "platform/disk.h"
#include "platform/memory.h"

namespace mendly {
namespace {

// One staged file and the positions of the list it serves.
struct Job {
    std::string name;                    // staged name
    std::size_t index = 0;               // manifest index of the first entry (its address is used)
    std::vector<std::size_t> positions;  // in the list
    // Every position's member belongs to an archive being assembled
    // (assemblyTargets says where each goes).
    bool assembled = false;
};

// Where each position of `job` goes: its archive's assembly and member
// name; empty unless every position has one.
std::vector<std::pair<ArchiveAssembly*, std::string>> assemblyTargets(const Job& job, const PatchManifest& manifest,
                                                                      const std::vector<std::size_t>& list,
                                                                      ArchiveAssemblies* assemblies) {
    std::vector<std::pair<ArchiveAssembly*, std::string>> targets;
    if (!assemblies || assemblies->empty()) return targets;
    for (const std::size_t position : job.positions) {
        auto ref = classifyArchivePath(manifest.files[list[position]].relative);
        const auto it = ref ? assemblies->find(ref->archiveName) : assemblies->end();
        if (it == assemblies->end()) return {};
        targets.emplace_back(it->second.get(), std::move(ref->memberPath));
    }
    return targets;
}

// Marks the jobs whose every position has an assembly (Job::assembled).
void planAssembly(std::vector<Job>& jobs, const PatchManifest& manifest, const std::vector<std::size_t>& list,
                  ArchiveAssemblies* assemblies) {
    if (!assemblies || assemblies->empty()) return;
    for (Job& job : jobs) job.assembled = !assemblyTargets(job, manifest, list, assemblies).empty();
}

std::vector<Job> planJobs(const PatchManifest& manifest, const std::vector<std::size_t>& list) {
    std::vector<Job> jobs;
    std::map<std::string, std::size_t> byName;
    for (std::size_t position = 0; position < list.size(); ++position) {
        const std::string name = stagedNameFor(manifest.files[list[position]]);
        const auto [it, added] = byName.emplace(name, jobs.size());
        if (added) jobs.push_back({name, list[position], {}, false});
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

// A worker keeps no codec buffers of its own: they belong to the CPU slots,
// so that sixteen transfers in flight hold as many buffers as there are
// slots. A slot keeps its buffers from job to job, but not one grown for a
// large member, which would make memory grow with the client.
constexpr std::size_t kKeptBufferBytes = 1u << 20;

void releaseLargeBuffers(vfile::CodecBuffers& buffers) {
    if (buffers.stored.capacity() > kKeptBufferBytes) std::string().swap(buffers.stored);
    if (buffers.contents.capacity() > kKeptBufferBytes) std::string().swap(buffers.contents);
    if (buffers.output.capacity() > kKeptBufferBytes) std::string().swap(buffers.output);
}

// The free CPU slots, each with its codec buffers. Its own mutex guards the
// list of free slots; a slot's buffers belong to the thread that holds it.
// A mutex and a condition variable rather than std::counting_semaphore: on
// targets without a futex (the Windows build), the standard library's
// semaphore can miss a release and leave a worker asleep with every slot free.
class CpuSlots {
public:
    explicit CpuSlots(unsigned count) : buffers_(count) {
        for (unsigned i = 0; i < count; ++i) free_.push_back(i);
    }
    // Waits for a free slot and takes it; its index.
    unsigned acquire() {
        std::unique_lock lock(mutex_);
        freed_.wait(lock, [this] { return !free_.empty(); });
        const unsigned slot = free_.back();
        free_.pop_back();
        return slot;
    }
    void release(unsigned slot) {
        releaseLargeBuffers(buffers_[slot]);
        {
            const std::lock_guard lock(mutex_);
            free_.push_back(slot);
        }
        freed_.notify_one();
    }
    vfile::CodecBuffers& buffers(unsigned slot) { return buffers_[slot]; }

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<unsigned> free_;
    std::vector<vfile::CodecBuffers> buffers_;  // fixed in size from construction
};

// Shared by the workers of one stage.
struct StageState {
    StageState(const PatchManifest& m, const std::vector<std::size_t>& l, const DownloadSources& src,
               PatchWindow* w, const StagingArea& st, const std::filesystem::path& dir, std::vector<DownloadSlot>& s,
               TransferRateLimit* limit)
        : manifest(m), list(l), sources(src), window(w), staging(st), installDir(dir), slots(s),
          rateLimit(limit), progress(w, static_cast<std::int32_t>(l.size())) {}

    const PatchManifest& manifest;
    const std::vector<std::size_t>& list;
    const DownloadSources& sources;
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
    std::atomic<std::int32_t> warnedAttempts{0};
    std::atomic<bool> gaveUp{false};
    std::atomic<std::uint64_t> bytesReceived{0};
    // What the byte reports count: bytes received and files found staged.
    std::atomic<std::uint64_t> bytesDone{0};
    std::mutex firstErrorMutex;
    std::u16string firstError;
    // The CPU work after a transfer (compressing a member, checking a payload,
    // hashing a file an earlier run staged) runs on at most one thread per
    // core and one more, however many transfers are in flight: a slot's
    // thread also writes what it made, and the one more keeps the cores busy
    // while another waits on the disk (an install of the 2 GiB sample on two
    // cores took 7.6 s with three slots against 8.3 s with two).
    CpuSlots cpuSlots{workerCount(kTransfersInFlight) + 1};
    // The MD5s of the bodies that arrive in memory, hashed side by side.
    // Where the lanes are vectors one thread hashes them all, so that bodies
    // queue and fill its lanes (it goes about 4x as fast as a thread that
    // hashes one body); elsewhere as many as there are CPU slots.
    Md5Gatherer md5s{Md5Lanes::vectorsAvailable() ? 1u : workerCount(kTransfersInFlight)};
    // What rebuilding files from deltas may hold at once, however many
    // transfers run (bytes).
    MemoryBudget deltaMemory{48ull << 20};
    // The installed archives' directories, read once for every member
    // rebuilt from a delta (the archives do not change before apply).
    ArchiveCache deltaBases;
};

// Holds one of the stage's CPU slots, and with it the slot's codec buffers,
// for its lifetime.
class CpuSlot {
public:
    explicit CpuSlot(StageState& state) : state_(state), slot_(state_.cpuSlots.acquire()) {}
    ~CpuSlot() { state_.cpuSlots.release(slot_); }
    CpuSlot(const CpuSlot&) = delete;
    CpuSlot& operator=(const CpuSlot&) = delete;
    vfile::CodecBuffers& buffers() const { return state_.cpuSlots.buffers(slot_); }

private:
    StageState& state_;
    const unsigned slot_;
};

// One worker's own things.
struct WorkerContext {
    StageState& state;
    SpeedReporter& speed;
    bool assembled = false;          // the current job's member went to its assemblies, not to staging
    const CpuSlot* held = nullptr;   // the CPU slot the worker holds across several steps, if any
};

// The codec buffers of a CPU slot for one step: those of the slot the worker
// already holds, or of one taken for the step and given back after it.
class StepSlot {
public:
    explicit StepSlot(WorkerContext& ctx) {
        if (ctx.held == nullptr) own_.emplace(ctx.state);
        buffers_ = own_ ? &own_->buffers() : &ctx.held->buffers();
    }
    vfile::CodecBuffers& buffers() const { return *buffers_; }

private:
    std::optional<CpuSlot> own_;
    vfile::CodecBuffers* buffers_ = nullptr;
};

// Lends `slot` to the steps a worker runs while this lives.
class HeldSlot {
public:
    HeldSlot(WorkerContext& ctx, const CpuSlot& slot) : ctx_(ctx) { ctx_.held = &slot; }
    ~HeldSlot() { ctx_.held = nullptr; }
    HeldSlot(const HeldSlot&) = delete;
    HeldSlot& operator=(const HeldSlot&) = delete;

private:
    WorkerContext& ctx_;
};

// `context` (may be empty) follows the message in the run's error text; the
// log line's address already names the host.
void recordFailure(StageState& state, const Job& job, const std::u16string& url, const std::u16string& message,
                   const std::u16string& context = {}) {
    state.failed.fetch_add(static_cast<std::int32_t>(job.positions.size()));
    if (state.failedJobs.fetch_add(1) < kLoggedDownloadFailures) LogFile::write(u"ERROR: " + url + u" \u2014 " + message);
    const std::lock_guard lock(state.firstErrorMutex);
    if (state.firstError.empty()) state.firstError = context.empty() ? message : withContext(message, context);
}

// A failed attempt that is tried again (from this host or another).
void noteFailedAttempt(StageState& state, const std::u16string& url, const std::u16string& message) {
    if (state.warnedAttempts.fetch_add(1) < kLoggedDownloadFailures)
        LogFile::write(u"WARNING: " + url + u" \u2014 " + message);
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
    const StepSlot cpu(ctx);
    const StagingArea& staging = ctx.state.staging;
    appliedName = job.name;
    StagingStatus status = StagingStatus::Ok;
    if (kind == Kind::Member) {
        status = writeStagedEntry(asServed, staging.pathFor(job.name), cpu.buffers());
        std::error_code ec;
        std::filesystem::remove(asServed, ec);
    } else if (kind == Kind::Payload) {
        bool converted = false;
        status = checkStagedPayload(asServed, staging.pathFor(job.name + ".converted"), converted, cpu.buffers());
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
        const StepSlot cpu(ctx);
        status = writeStagedEntryBytes(contents, ctx.state.staging.pathFor(job.name), cpu.buffers());
    }
    if (status == StagingStatus::DiskFull) return diskFullMessage(ctx.state, contents.size());
    if (status == StagingStatus::Failed) return u"Cannot stage download: " + toWide(entry.relative);
    return {};
}

// The failure sentence for stored bytes an assembly could not take.
std::u16string assemblyFailure(const StageState& state, const ManifestEntry& entry, std::uint64_t wanted) {
    if (classifyWriteFailure(state.staging.folder(), wanted) == StagingStatus::DiskFull)
        return diskFullMessage(state, wanted);
    return u"Cannot stage download: " + toWide(entry.relative);
}

// Writes `stored` into every assembly of the job.
std::u16string appendToAssemblies(WorkerContext& ctx, const Job& job, std::uint32_t originalSize,
                                  std::string_view stored) {
    const ManifestEntry& entry = ctx.state.manifest.files[job.index];
    for (const auto& [assembly, name] :
         assemblyTargets(job, ctx.state.manifest, ctx.state.list, ctx.state.sources.assemblies))
        if (!assembly->append(name, entry.md5, originalSize, stored))
            return assemblyFailure(ctx.state, entry, stored.size());
    ctx.assembled = true;
    return {};
}

// A plain member that arrived in memory, compressed once and written into
// its archives' assemblies.
std::u16string assembleMember(WorkerContext& ctx, const Job& job, std::string_view contents) {
    if (contents.size() > vfile::kMaxStoredValue)
        return u"Cannot stage download: " + toWide(ctx.state.manifest.files[job.index].relative);
    const StepSlot cpu(ctx);
    const bool shorter = vfile::compressShorterInto(contents, cpu.buffers().stored);
    return appendToAssemblies(ctx, job, static_cast<std::uint32_t>(contents.size()),
                              shorter ? std::string_view(cpu.buffers().stored) : contents);
}

// A single-file payload that arrived in memory: its stream is inflated to
// check it and its body written into the assemblies as it came. A body as
// long as its contents must be stored anew and takes the staged way.
std::u16string assemblePayload(WorkerContext& ctx, const Job& job, std::string_view body, std::string& appliedName) {
    const ManifestEntry& entry = ctx.state.manifest.files[job.index];
    const std::u16string invalid = u"Invalid single-file PAK payload: " + toWide(entry.relative);
    const auto info = parseStagedEntryInfo(body);
    if (!info || info->storedSize == 0) return invalid;
    const std::uint32_t originalSize = info->originalSize;
    const std::string_view stored = body.substr(info->offset);
    if (stored.size() == originalSize) {
        const std::filesystem::path target = ctx.state.staging.pathFor(job.name);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(body.data(), static_cast<std::streamsize>(body.size()));
        out.close();
        if (out.fail()) return assemblyFailure(ctx.state, entry, body.size());
        return finishStaged(ctx, job, target, Kind::Payload, appliedName);
    }
    {
        const StepSlot cpu(ctx);
        if (!vfile::inflateExactlyInto(stored, originalSize, cpu.buffers().contents)) return invalid;
    }
    return appendToAssemblies(ctx, job, originalSize, stored);
}

// A body that arrived in memory: into its assemblies when the job has them,
// else staged.
std::u16string stageFromMemory(WorkerContext& ctx, const Job& job, Kind kind, std::string_view body,
                               std::string& appliedName) {
    appliedName = job.name;
    if (kind == Kind::Payload) return assemblePayload(ctx, job, body, appliedName);
    return job.assembled ? assembleMember(ctx, job, body) : stageMemberFromMemory(ctx, job, body);
}

// Members an earlier run already wrote into every assembly of the job.
bool reuseAssembled(WorkerContext& ctx, const Job& job) {
    if (!job.assembled) return false;
    const ManifestEntry& entry = ctx.state.manifest.files[job.index];
    const CpuSlot cpu(ctx.state);
    for (const auto& [assembly, name] :
         assemblyTargets(job, ctx.state.manifest, ctx.state.list, ctx.state.sources.assemblies))
        if (!assembly->holds(name, entry, cpu.buffers())) return false;
    ctx.assembled = true;
    return true;
}

// The most of a body the transfer keeps in memory before it spills to a file.
std::size_t memoryLimitFor(const Job& job, Kind kind) {
    if (kind == Kind::Member) return kMemberInMemory;
    return kind == Kind::Payload && job.assembled ? kMemberInMemory : 0;
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
        return stagedEntryContentsMatch(path, entry, cpu.buffers());
    }
    bool matches = false;
    {
        const CpuSlot cpu(ctx.state);
        matches = fileMatchesEntry(path, entry);
    }
    return matches && finishStaged(ctx, job, path, kind, appliedName).empty();
}

// How one attempt at a job's file from one host ended.
enum class Attempt {
    Served,     // staged and matching
    Cancelled,  // the cancel flag ended it
    Moved,      // the host was demoted meanwhile: the file goes to another
    HostFailed, // the host failed it (network, status, wrong bytes)
    Failed,     // failed on this side (staging, disk): no host would do better
};

struct AttemptResult {
    Attempt outcome = Attempt::Failed;
    HttpFailure failure;   // with HostFailed
    std::u16string error;  // with HostFailed and Failed
};

// What a complete body became: staged (Served), or the failure.
AttemptResult stageBody(WorkerContext& ctx, const Job& job, Kind kind, StagingWriter& writer, bool closed,
                        std::string& appliedName) {
    StageState& state = ctx.state;
    const ManifestEntry& entry = state.manifest.files[job.index];
    const std::filesystem::path target =
        state.staging.pathFor(kind == Kind::Member ? job.name + ".contents" : job.name);
    AttemptResult r;
    if (!closed) {
        r.error = classifyWriteFailure(state.staging.folder(), 1) == StagingStatus::DiskFull
                      ? diskFullMessage(state, entry.size.value_or(writer.received()))
                      : u"Cannot stage download: " + toWide(entry.relative);
    } else if (!writer.matches(entry)) {
        r.outcome = Attempt::HostFailed;
        r.failure.kind = HttpFailure::Kind::Body;
        r.error = u"Hash mismatch after download: " + toWide(entry.relative);
    } else if (writer.inMemory()) {
        r.error = stageFromMemory(ctx, job, kind, writer.memory(), appliedName);
    } else if (!commitStaged(writer.partPath(), target)) {
        r.error = u"Cannot stage download: " + toWide(entry.relative);
    } else {
        r.error = finishStaged(ctx, job, target, kind, appliedName);
    }
    if (r.outcome != Attempt::HostFailed && r.error.empty()) r.outcome = Attempt::Served;
    return r;
}

// One transfer of the job's file from `host` into staging.
AttemptResult fetchFrom(WorkerContext& ctx, const Job& job, Kind kind, std::size_t host, std::string& appliedName) {
    StageState& state = ctx.state;
    HostPool& pool = state.sources.hosts;
    const ManifestEntry& entry = state.manifest.files[job.index];
    const std::u16string url = fileUrl(pool.addresses(host).filesBaseUrl, entry);
    StagingWriter writer(entry, state.staging.pathFor(job.name + ".part"), entry.size, memoryLimitFor(job, kind),
                         &state.md5s);
    if (!writer.open()) return {Attempt::Failed, {}, u"Cannot stage download: " + toWide(entry.relative)};
    HostPool::Transfer transfer = pool.begin(host);
    bool moved = false;
    const HttpBodySink sink = [&](std::string_view piece, std::u16string& sinkError) {
        state.bytesReceived.fetch_add(piece.size(), std::memory_order_relaxed);
        state.bytesDone.fetch_add(piece.size(), std::memory_order_relaxed);
        if (!pool.received(transfer, piece.size(), HostPool::Clock::now())) {
            moved = true;
            return false;
        }
        if (writer.write(piece)) return true;
        if (writer.writeFailed() &&
            classifyWriteFailure(state.staging.folder(), piece.size()) == StagingStatus::DiskFull)
            sinkError = diskFullMessage(state, entry.size.value_or(writer.received() + piece.size()));
        return false;
    };
    HttpRequestOptions options;
    options.cancel = &patchCancelFlag();
    options.rateLimit = state.rateLimit;
    AttemptResult r;
    const bool fetched = httpGetStream(url, sink, r.error, options, r.failure);
    const auto transferEnded = HostPool::Clock::now();  // the host's time; staging below is ours
    const bool closed = writer.close();
    if (!fetched && (isPatchCancelRequested() || r.failure.kind == HttpFailure::Kind::Cancelled)) {
        r.outcome = Attempt::Cancelled;
    } else if (moved) {
        r.outcome = Attempt::Moved;
    } else if (writer.overLimit()) {
        r = {Attempt::HostFailed, {HttpFailure::Kind::Body, 0, 0},
             u"Hash mismatch after download: " + toWide(entry.relative)};
    } else if (fetched) {
        r = stageBody(ctx, job, kind, writer, closed, appliedName);
    } else if (writer.writeFailed()) {
        r.outcome = Attempt::Failed;  // the sink's sentence (disk full) or the write failure's
        if (r.failure.kind != HttpFailure::Kind::Body || r.error.empty())
            r.error = u"Cannot stage download: " + toWide(entry.relative);
    } else {
        r.outcome = Attempt::HostFailed;
        if (r.error.empty()) r.error = u"Download failed";
    }
    pool.end(transfer, r.outcome == Attempt::Served, transferEnded);
    return r;
}

// Fetches the job's file into staging from the hosts, trying again as
// downloadFiles says; false when the worker must end (cancelled). Failures
// are recorded here.
bool fetchJob(WorkerContext& ctx, const Job& job, Kind kind, std::string& appliedName, bool& ok) {
    StageState& state = ctx.state;
    HostPool& pool = state.sources.hosts;
    const RetryPolicy& retry = state.sources.retry;
    const ManifestEntry& entry = state.manifest.files[job.index];
    std::vector<bool> ruledOut(pool.size(), false);
    std::optional<std::size_t> previous;
    int attempt = 0;
    auto began = std::chrono::steady_clock::now();  // the first attempt on this host
    while (const auto host = pool.pick(ruledOut)) {
        attempt = host == previous ? attempt + 1 : 1;
        if (attempt == 1) began = std::chrono::steady_clock::now();
        previous = host;
        const AttemptResult r = fetchFrom(ctx, job, kind, *host, appliedName);
        const std::u16string url = fileUrl(pool.addresses(*host).filesBaseUrl, entry);
        if (r.outcome == Attempt::Served) {
            ok = true;
            return true;
        }
        if (r.outcome == Attempt::Cancelled) return false;
        if (r.outcome == Attempt::Moved) continue;
        if (r.outcome == Attempt::Failed) {
            recordFailure(state, job, url, r.error);
            return true;
        }
        const bool others = pool.hasOtherCandidate(*host, ruledOut);
        if (isTransientFailure(r.failure) && !others && retry.mayAttempt(attempt + 1, began)) {
            const auto wait = retry.waitBefore(attempt + 1);
            noteFailedAttempt(state, url, r.error);
            reportStatus(state.window, retryLine(wait, attempt + 1, retry.attempts, pool.label(*host), r.failure));
            if (!retry.wait(wait, &patchCancelFlag())) return false;
            continue;
        }
        ruledOut[*host] = true;
        pool.demote(*host, r.error);
        if (others) {
            noteFailedAttempt(state, url, r.error);
            continue;
        }
        recordFailure(state, job, url, r.error,
                      fileContext(toWide(entry.relative), state.sources.serverName, pool.label(*host)));
        return true;
    }
    return true;  // not reached: the last host's failure is recorded above
}

// Stages the content rebuilt for the job as a download is staged (hashed,
// checked against the manifest, compressed for an archive): true when the
// job is done with it, else false with the reason in `why`.
bool stageRebuilt(WorkerContext& ctx, const Job& job, Kind kind, std::string_view content, std::string& appliedName,
                  std::u16string& why) {
    StageState& state = ctx.state;
    const ManifestEntry& entry = state.manifest.files[job.index];
    // Hashed here as it is lent, under the held slot: with no more rebuilt
    // contents at once than slots, the lanes would not fill, and waiting for
    // another thread to hash would leave the slot idle.
    StagingWriter writer(entry, state.staging.pathFor(job.name + ".part"), entry.size,
                         kind == Kind::Member ? kMemberInMemory : 0);
    const bool written = writer.open() && writer.lend(content);
    const bool closed = writer.close();
    const AttemptResult r = stageBody(ctx, job, kind, writer, closed && written, appliedName);
    if (r.outcome == Attempt::Served) return true;
    why = r.outcome == Attempt::HostFailed ? u"the rebuilt content does not match the manifest" : r.error;
    return false;
}

// The job's file rebuilt from a delta and the content installed, when the
// record offers one; false when there is none or it did not work out (then
// logged), and the whole file is fetched instead.
bool fetchByDelta(WorkerContext& ctx, const Job& job, Kind kind, std::string& appliedName) {
    StageState& state = ctx.state;
    const ManifestEntry& entry = state.manifest.files[job.index];
    if (kind == Kind::Payload) return false;
    const auto choice = chooseDelta(entry, state.sources.record, state.installDir);
    if (!choice) return false;
    const BudgetShare memory(state.deltaMemory, deltaMemoryNeed(entry, *choice));
    std::string deltaBytes;
    DeltaAttempt attempt;
    const bool fetched = fetchDelta(choice->delta, state.sources.hosts, state.rateLimit, deltaBytes, attempt);
    state.bytesReceived.fetch_add(attempt.fetched, std::memory_order_relaxed);
    if (isPatchCancelRequested()) return false;
    std::u16string why = attempt.why;
    if (fetched) {
        // Reading the base, rebuilding, hashing and compressing the result are
        // CPU work, done under one slot and into its buffers: no more rebuilt
        // contents are held at once than there are slots, and each goes into
        // memory the slot has used before.
        const CpuSlot cpu(state);
        const HeldSlot held(ctx, cpu);
        vfile::CodecBuffers& buffers = cpu.buffers();
        noteRebuild(rebuildFromDelta(state.installDir, entry, deltaBytes, state.deltaBases, buffers, buffers.output),
                    attempt);
        why = attempt.why;
        if (attempt.rebuilt && stageRebuilt(ctx, job, kind, buffers.output, appliedName, why)) {
            state.bytesDone.fetch_add(entry.size.value_or(0), std::memory_order_relaxed);
            LogFile::write(deltaRebuiltLogLine(entry, attempt.fetched));
            return true;
        }
    }
    LogFile::write(deltaFallbackLogLine(entry, why));
    return false;
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
    ctx.assembled = false;
    try {
        if (reuseAssembled(ctx, job) || reuseStaged(ctx, job, kind, appliedName)) {
            ok = true;
            state.reused.fetch_add(1);
            state.bytesDone.fetch_add(state.manifest.files[job.index].size.value_or(0), std::memory_order_relaxed);
        } else if (fetchByDelta(ctx, job, kind, appliedName)) {
            ok = true;
        } else if (!fetchJob(ctx, job, kind, appliedName, ok)) {
            return false;
        }
    } catch (...) {
        try {
            recordFailure(state, job,
                          fileUrl(state.sources.hosts.addresses(0).filesBaseUrl, state.manifest.files[job.index]),
                          u"Download failed");
        } catch (...) {
            state.failed.fetch_add(static_cast<std::int32_t>(job.positions.size()));
        }
        return true;
    }
    if (!ok) return true;
    for (const std::size_t position : job.positions) {
        state.slots[position].stagedName = appliedName;
        state.slots[position].assembled = ctx.assembled;
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

DownloadResult downloadFiles(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                             std::u16string_view filesBaseUrl, PatchWindow* window, const StagingArea& staging,
                             const std::filesystem::path& installDir, TransferRateLimit* rateLimit) {
    HostPool hosts({{std::u16string(filesBaseUrl), std::u16string(filesBaseUrl)}});
    const RetryPolicy retry;
    return downloadFiles(manifest, list, DownloadSources{hosts, retry, {}}, window, staging, installDir, rateLimit);
}

DownloadResult downloadFiles(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                             const DownloadSources& sources, PatchWindow* window, const StagingArea& staging,
                             const std::filesystem::path& installDir, TransferRateLimit* rateLimit) {
    DownloadResult result;
    result.slots.resize(list.size());
    for (std::size_t position = 0; position < list.size(); ++position) result.slots[position].index = list[position];
    std::vector<Job> jobs = planJobs(manifest, list);
    planAssembly(jobs, manifest, list, sources.assemblies);
    StageState state(manifest, list, sources, window, staging, installDir, result.slots, rateLimit);
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
        WorkerContext ctx{state, speed};
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

PatchOutcome runDownloadStage(PatchWindow* window, const PatchManifest& manifest, const std::vector<std::size_t>& list,
                              DownloadSources sources, const std::filesystem::path& installDir,
                              const StagingArea& staging, TransferRateLimit* limit, ArchiveAssemblies& assemblies,
                              DownloadResult& downloads, std::u16string& error) {
    const std::int32_t n = progressCount(list.size());
    reportStatus(window, u"Verify done: " + toDecimal(n) + u" file(s) need patching");
    if (const auto full = checkDiskSpaceForPatch(manifest, list, installDir, staging))
        return failedWithLog(error, *full, u"ERROR: ");
    const DownloadPlan plan = planDownload(manifest, list, staging);
    reportStatusAndLog(window, downloadPlanLine(plan, freeSpaceAt(staging.folder())));
    if (const auto reuse = reuseLine(plan)) reportStatusAndLog(window, *reuse);
    if (!staging.create()) return failedWithLog(error, u"Cannot write: " + pathText(staging.folder()), u"ERROR: ");
    assemblies = openAssemblies(manifest, list, installDir, staging);
    sources.assemblies = &assemblies;
    reportStage(window, PatchStage::Download);
    reportProgress(window, 0, n);
    downloads = downloadFiles(manifest, list, sources, window, staging, installDir, limit);
    // The transfer threads' buffers are free again; what the rest of the run
    // builds (the record) should not come on top of them.
    platform::releaseFreeMemory();
    sources.hosts.logSummary();
    if (isPatchCancelRequested()) return cancelledWithLog(error, u"Patch cancelled during download");
    if (downloads.failed > 0) {
        error = downloads.firstError.empty() ? std::u16string(u"One or more downloads failed") : downloads.firstError;
        LogFile::write(u"ERROR: Patch failed \u2014 " + toDecimal(downloads.failed) + u" / " + toDecimal(n) +
                       u" downloads failed" +
                       (downloads.gaveUp ? u" (gave up early: the rest were not tried)" : u""));
        return PatchOutcome::Failed;
    }
    if (isPatchCancelRequested()) return cancelledWithLog(error, u"Patch cancelled before apply");
    // Every slot is filled unless a cancellation cut the stage short and the
    // flag was cleared again since; applying missing files would destroy files.
    if (!std::all_of(downloads.slots.begin(), downloads.slots.end(), [](const DownloadSlot& s) { return s.ok; }))
        return cancelledWithLog(error, u"Patch cancelled during download");
    return PatchOutcome::Ok;
}

}  // namespace mendly
