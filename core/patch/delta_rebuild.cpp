#include "patch/delta_rebuild.h"

#include "log/text.h"
#include "patch/archive_paths.h"
#include "patch/holder_stamps.h"
#include "patch/vfile/archive.h"
#include "patch/vfile/delta_codec.h"
#include "platform/file_map.h"

namespace mendly {

std::optional<DeltaChoice> chooseDelta(const ManifestEntry& entry, const InstallRecord* record,
                                       const std::filesystem::path& installDir) {
    if (!record || entry.deltas.empty() || !entry.size || *entry.size > kLargestRebuild ||
        !vfile::deltaCodecAvailable())
        return std::nullopt;
    const EntryHolder holder = holderFor(installDir, entry);
    const auto stamp = platform::fileStamp(holder.path);
    if (!stamp) return std::nullopt;
    const RecordedEntry* held = record->standingEntry(entry.relative, *stamp);
    if (!held || held->sha256.empty() || (holder.isArchive && held->originalSize > kLargestMemberBase))
        return std::nullopt;
    for (const ManifestDelta& delta : entry.deltas)
        if (delta.size <= kLargestDelta && equalsIgnoreAsciiCase(delta.from, held->sha256))
            return DeltaChoice{delta, holder.isArchive ? held->originalSize : 0};
    return std::nullopt;
}

RebuildOutcome rebuildFromDelta(const std::filesystem::path& installDir, const ManifestEntry& entry,
                                std::string_view deltaBytes, ArchiveCache& archives, vfile::CodecBuffers& scratch,
                                std::string& out) {
    if (!entry.size || *entry.size > kLargestRebuild) return RebuildOutcome::BadDelta;
    const EntryHolder holder = holderFor(installDir, entry);
    platform::MappedFile mapped;
    std::string_view base;
    if (holder.isArchive) {
        const auto ref = classifyArchivePath(entry.relative);
        const auto archive = ref ? archives.get(holder.path) : nullptr;
        const auto found = archive ? archive->find(ref->memberPath) : std::nullopt;
        if (!found || found->originalSize > kLargestMemberBase) return RebuildOutcome::NoBase;
        const auto contents = archive->readEntryInto(*found, scratch);
        if (!contents) return RebuildOutcome::NoBase;
        base = *contents;
    } else {
        if (!mapped.open(holder.path)) return RebuildOutcome::NoBase;
        base = mapped.bytes();
    }
    // Every byte is written by the delta; only growth is cleared.
    out.resize(static_cast<std::size_t>(*entry.size));
    const auto outcome = vfile::applyDelta(base, deltaBytes, out.data(), *entry.size);
    if (outcome == vfile::DeltaOutcome::Rebuilt) return RebuildOutcome::Rebuilt;
    out.clear();
    return RebuildOutcome::BadDelta;
}

std::u16string deltaRebuiltLogLine(const ManifestEntry& entry, std::uint64_t deltaBytes) {
    return u"Rebuilt from a delta: " + toWide(entry.relative) + u" (" +
           toDecimal(static_cast<long long>(deltaBytes)) + u" bytes fetched for " +
           toDecimal(static_cast<long long>(entry.size.value_or(0))) + u")";
}

std::u16string deltaFallbackLogLine(const ManifestEntry& entry, std::u16string_view why) {
    return u"Delta not used for " + toWide(entry.relative) + u" (" + std::u16string(why) + u"); fetching it whole";
}

}  // namespace mendly
