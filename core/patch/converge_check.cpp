#include "patch/converge_check.h"

#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "patch/archive_cache.h"
#include "patch/archive_paths.h"
#include "patch/local_verification.h"
#include "patch/staged_file.h"
#include "patch/worker_count.h"

namespace mendly {
namespace fs = std::filesystem;
namespace {

// A holder that cannot be stamped is not recorded; it may still verify.
void stampHolder(const std::filesystem::path& installDir, const ManifestEntry& entry, HolderStamps& stamps) noexcept {
    try {
        const EntryHolder holder = holderFor(installDir, entry);
        (void)stamps.noteNow(holder.key, holder.path);
    } catch (...) {
    }
}

// Whether position i was placed whole after it was hashed on arrival, and
// is where it was placed; nothing when it is to be read and hashed instead.
using ArrivalProof = std::function<std::optional<bool>(std::size_t position, ArchiveCache& cache)>;

std::optional<std::size_t> firstUnconverged(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                            const std::filesystem::path& installDir, HolderStamps* stamps,
                                            const ArrivalProof& proof, ArchiveCache& cache) {
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> first{list.size()};
    auto worker = [&] {
        vfile::ArchiveReader reader;
        for (std::size_t i = next.fetch_add(1); i < list.size() && i < first.load(); i = next.fetch_add(1)) {
            const ManifestEntry& entry = manifest.files[list[i]];
            if (stamps) stampHolder(installDir, entry, *stamps);
            const std::optional<bool> placed = proof ? proof(i, cache) : std::nullopt;
            if (placed ? *placed : verifyEntry(entry, installDir, cache, reader)) continue;
            std::size_t seen = first.load();
            while (i < seen && !first.compare_exchange_weak(seen, i)) {
            }
        }
    };
    {
        std::vector<std::jthread> workers;
        const unsigned count = workerCount(static_cast<std::int64_t>(list.size()));
        workers.reserve(count);
        for (unsigned w = 0; w < count; ++w) workers.emplace_back(worker);
    }  // joined here
    const std::size_t found = first.load();
    if (found == list.size()) return std::nullopt;
    return found;
}

}  // namespace
}  // namespace mendly

namespace mendly {

std::optional<std::size_t> firstUnconvergedPosition(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                                    const std::filesystem::path& installDir, HolderStamps* stamps) {
    ArchiveCache cache;  // the archives as they are now
    return firstUnconverged(manifest, list, installDir, stamps, {}, cache);
}

namespace {

// The largest stored member compared byte for byte with its staged file.
constexpr std::uint64_t kLargestCompared = 16u << 20;

// Whether the archive holds exactly the stored bytes of `staged` for the
// member; nothing when that is not worth comparing (hash it instead).
std::optional<bool> sameStoredBytes(const fs::path& archivePath, const ArchiveMemberRef& ref, const fs::path& staged,
                                    ArchiveCache& cache) {
    const auto info = readStagedEntryInfo(staged);
    if (!info || info->storedSize > kLargestCompared) return std::nullopt;
    const auto archive = cache.get(archivePath);
    const auto entry = archive ? archive->find(ref.memberPath) : std::nullopt;
    if (!entry || entry->storedSize != info->storedSize || entry->originalSize != info->originalSize) return false;
    const auto held = archive->readStored(*entry);
    std::ifstream in(staged, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(info->storedSize), '\0');
    in.seekg(static_cast<std::streamoff>(info->offset));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return held && in && held->bytes == bytes;
}

}  // namespace

std::optional<std::size_t> firstUnconvergedPosition(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                                    const std::filesystem::path& installDir, HolderStamps* stamps,
                                                    const std::vector<DownloadSlot>& slots,
                                                    const ArchiveAssemblies& assemblies, const StagingArea& staging,
                                                    ArchiveCache& archives) {
    // Loose files staged more than once were copied for all but one use.
    std::map<std::string, int> uses;
    for (const DownloadSlot& slot : slots) ++uses[slot.stagedName];
    const ArrivalProof proof = [&](std::size_t position, ArchiveCache& cache) -> std::optional<bool> {
        const ManifestEntry& entry = manifest.files[list[position]];
        if (position >= slots.size()) return std::nullopt;
        const DownloadSlot& slot = slots[position];
        if (const auto ref = classifyArchivePath(entry.relative)) {
            const auto assembly = assemblies.find(ref->archiveName);
            if (assembly != assemblies.end()) return assembly->second->placed(ref->memberPath, cache);
            return sameStoredBytes(archivePathFor(installDir, ref->archiveName), *ref,
                                   staging.pathFor(slot.stagedName), cache);
        }
        const auto use = uses.find(slot.stagedName);  // read only: workers share it
        if (!entry.size || use == uses.end() || use->second != 1) return std::nullopt;
        std::error_code ec;
        const fs::path path = looseFilePath(installDir, entry.relative);
        return fs::is_regular_file(fs::symlink_status(path, ec)) && fs::file_size(path, ec) == *entry.size && !ec;
    };
    return firstUnconverged(manifest, list, installDir, stamps, proof, archives);
}

}  // namespace mendly
