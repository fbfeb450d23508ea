#include "patch/converge_check.h"

#include <atomic>
#include <thread>

#include "patch/archive_cache.h"
#include "patch/local_verification.h"
#include "patch/worker_count.h"

namespace mendly {
namespace {

// A holder that cannot be stamped is not recorded; it may still verify.
void stampHolder(const std::filesystem::path& installDir, const ManifestEntry& entry, HolderStamps& stamps) noexcept {
    try {
        const EntryHolder holder = holderFor(installDir, entry);
        (void)stamps.noteNow(holder.key, holder.path);
    } catch (...) {
    }
}

}  // namespace

std::optional<std::size_t> firstUnconvergedPosition(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                                    const std::filesystem::path& installDir, HolderStamps* stamps) {
    ArchiveCache cache;  // the archives as the run left them
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> first{list.size()};
    auto worker = [&] {
        vfile::ArchiveReader reader;
        for (std::size_t i = next.fetch_add(1); i < list.size() && i < first.load(); i = next.fetch_add(1)) {
            const ManifestEntry& entry = manifest.files[list[i]];
            if (stamps) stampHolder(installDir, entry, *stamps);
            if (verifyEntry(entry, installDir, cache, reader)) continue;
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

}  // namespace mendly
