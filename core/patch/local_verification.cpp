#include "patch/local_verification.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "hash/digest.h"
#include "patch/archive_paths.h"
#include "patch/cancel_flag.h"
#include "patch/entry_digest.h"
#include "patch/patch_reporting.h"
#include "patch/verify_lanes.h"
#include "patch/vfile/archive_reader.h"
#include "patch/vfile/single_file_payload.h"
#include "patch/worker_count.h"

namespace mendly {
namespace {

// What reading a member told: whether it matches the entry as served, and
// for a "pak_" member stored raw, the MD5 of its contents (see
// payload_records.h), else empty.
struct MemberCheck {
    bool matches = false;
    std::string rawContentsMd5;
};

MemberCheck checkLocalMember(const ManifestEntry& manifestEntry, const ArchiveMemberRef& ref,
                             const std::filesystem::path& installDir, ArchiveCache& cache,
                             vfile::ArchiveReader& reader) {
    const auto archive = cache.get(archivePathFor(installDir, ref.archiveName));
    if (!archive || !archive->namesAreLowercase()) return {};
    const auto entry = archive->find(ref.memberPath);
    if (!entry) return {};
    EntryDigest digest(manifestEntry);
    if (!ref.hadPakPrefix) {
        if (!reader.expand(*archive, *entry, [&digest](std::string_view piece) { digest.update(piece); })) return {};
        return {digest.matches(manifestEntry), {}};
    }
    // The manifest's digests are those of the payload as served, which is the
    // stored entry behind a payload header; a raw entry's bytes are also its
    // contents (see payload_records.h).
    if (entry->storedSize == 0 || entry->originalSize == 0) return {};
    const bool raw = entry->storedSize == entry->originalSize;
    Md5Stream contents;
    digest.update(vfile::singleFilePayloadHeader(entry->originalSize));
    const auto feed = [&](std::string_view piece) {
        digest.update(piece);
        if (raw) contents.update(piece);
    };
    if (!reader.readStored(*archive, *entry, feed)) return {};
    return {digest.matches(manifestEntry), raw ? contents.finishHex() : std::string()};
}

enum class EntryCheck { Vouched, Matches, Differs, Unknown };

// What `record` says of `entry` as its holder is now (the stamp noted before
// anything of the holder was read): Vouched when it recorded the content the
// manifest names, and for a member the archive's directory still agrees
// (present, lowercase names, the recorded sizes); Differs when it recorded
// other content in the unchanged holder (the entry is patched without being
// read); Unknown otherwise (the entry is hashed).
EntryCheck recordVerdict(const InstallRecord& record, const ManifestEntry& entry, const EntryHolder& holder,
                         const platform::FileStamp& stamp, ArchiveCache& cache) {
    const RecordedEntry* recorded = record.standingEntry(entry.relative, stamp);
    if (!recorded) return EntryCheck::Unknown;
    if (!InstallRecord::namesContent(*recorded, entry.md5, entry.sha256)) return EntryCheck::Differs;
    if (!holder.isArchive) return EntryCheck::Vouched;
    const auto ref = classifyArchivePath(entry.relative);
    const auto archive = cache.get(holder.path);
    if (!ref || !archive || !archive->namesAreLowercase()) return EntryCheck::Unknown;
    const auto member = archive->find(ref->memberPath);
    const bool same =
        member && member->storedSize == recorded->storedSize && member->originalSize == recorded->originalSize;
    return same ? EntryCheck::Vouched : EntryCheck::Unknown;
}

// One entry of a verification pass: its holder stamped, then judged by the
// record; Unknown when it must be hashed. Never throws (a failure is a
// difference).
EntryCheck judgeEntry(const ManifestEntry& entry, const std::filesystem::path& installDir, ArchiveCache& cache,
                      const InstallRecord* record, HolderStamps& stamps) noexcept {
    try {
        const EntryHolder holder = holderFor(installDir, entry);
        const auto stamp = stamps.noteNow(holder.key, holder.path);
        if (record && stamp) return recordVerdict(*record, entry, holder, *stamp, cache);
        return EntryCheck::Unknown;
    } catch (...) {
        return EntryCheck::Differs;
    }
}

}  // namespace

bool verifyEntry(const ManifestEntry& entry, const std::filesystem::path& installDir, ArchiveCache& cache) noexcept {
    try {
        vfile::ArchiveReader reader;
        return verifyEntry(entry, installDir, cache, reader);
    } catch (...) {
        return false;
    }
}

bool verifyEntry(const ManifestEntry& entry, const std::filesystem::path& installDir, ArchiveCache& cache,
                 vfile::ArchiveReader& reader) noexcept {
    try {
        const auto ref = classifyArchivePath(entry.relative);
        if (!ref) return fileMatchesEntry(looseFilePath(installDir, entry.relative), entry);
        const MemberCheck check = checkLocalMember(entry, *ref, installDir, cache, reader);
        if (check.matches) return true;
        return !check.rawContentsMd5.empty() &&
               cache.payloadRecords(installDir).matches(entry.md5, check.rawContentsMd5);
    } catch (...) {
        return false;
    }
}

std::int32_t verificationReportStep(std::int32_t total) { return std::max<std::int32_t>(1, total / 100); }

VerificationResult verifyLocalFiles(const PatchManifest& manifest, const std::vector<std::size_t>& selected,
                                    const std::filesystem::path& installDir, PatchWindow* window, ArchiveCache& cache,
                                    const InstallRecord* record, HolderStamps& stamps) {
    const std::size_t n = selected.size();
    const auto total = static_cast<std::int32_t>(std::max<std::size_t>(1, n));
    const std::int32_t step = verificationReportStep(total);

    std::atomic<std::uint64_t> next{0};
    std::atomic<std::int32_t> checked{0};
    // Workers finish out of order; the reports still only go up.
    MonotonicProgress progress(window, total);
    std::atomic<std::size_t> fromRecord{0};
    std::mutex resultMutex;
    std::vector<std::size_t> needPatching;
    needPatching.reserve(n);

    const auto conclude = [&](std::size_t index, EntryCheck check) {
        if (check == EntryCheck::Vouched) {
            fromRecord.fetch_add(1);
        } else if (check == EntryCheck::Differs) {
            const std::lock_guard lock(resultMutex);
            needPatching.push_back(index);  // capacity reserved: never allocates
        }
        const std::int32_t done = checked.fetch_add(1) + 1;
        if (done == total || done % step == 0) progress.report(done);
    };
    auto worker = [&] {
        vfile::ArchiveReader reader;  // this worker's open archive and buffers, for entries checked alone
        VerifyLanes lanes(installDir, cache, [&](std::size_t index, bool matches) {
            conclude(index, matches ? EntryCheck::Matches : EntryCheck::Differs);
        });
        while (!isPatchCancelRequested()) {
            const std::uint64_t i = next.fetch_add(1);
            if (i >= n) break;
            const std::size_t index = selected[i];
            const ManifestEntry& entry = manifest.files[index];
            EntryCheck check = judgeEntry(entry, installDir, cache, record, stamps);
            if (check == EntryCheck::Unknown && lanes.take(index, entry)) continue;
            if (check == EntryCheck::Unknown) {
                check = verifyEntry(entry, installDir, cache, reader) ? EntryCheck::Matches : EntryCheck::Differs;
            }
            conclude(index, check);
        }
        lanes.finishAll();
    };

    {
        std::vector<std::jthread> workers;
        const unsigned count = workerCount(static_cast<std::int64_t>(n));
        workers.reserve(count);
        for (unsigned w = 0; w < count; ++w) workers.emplace_back(worker);
    }  // joined here
    return {std::move(needPatching), fromRecord.load()};
}

}  // namespace mendly
