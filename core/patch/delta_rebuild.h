#pragma once
// Rebuilding a changed file from a delta instead of fetching it whole: the
// base is the content the installation holds now (a loose file, read where
// it lies through a mapping, or an archive member, inflated), the result is
// checked by the entry's digests like any download (by whoever stores it).
//
// The record (install_record.h) says what the installation holds: a delta
// is chosen only when the entry's holder still has its recorded stamp and
// the recorded content is the delta's base. Anything else (no record, a
// changed holder, a base that is not what the record says, a damaged delta)
// is found out here or by the digests, and the file is fetched whole.
//
// Memory: the result (at most kLargestRebuild bytes) and, for a member, its
// stored and inflated base (at most kLargestMemberBase each, in the caller's
// scratch buffers) are held while one rebuild runs. Stateless; calls may run
// on any thread, each with its own buffers.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "patch/archive_cache.h"
#include "patch/install_record.h"
#include "patch/manifest.h"
#include "patch/vfile/entry_stream.h"

namespace mendly {

// Larger files and deltas are fetched whole.
inline constexpr std::uint64_t kLargestRebuild = 24ull << 20;
inline constexpr std::uint64_t kLargestMemberBase = 24ull << 20;
inline constexpr std::uint64_t kLargestDelta = 12ull << 20;

struct DeltaChoice {
    ManifestDelta delta;
    std::uint64_t baseInMemory = 0;  // bytes the base takes while rebuilding (a member inflated; 0 for a mapped file)
};

// The delta of `entry` whose base the record says the installation holds
// now, or nothing (no record, no delta from that content, a holder changed
// since it was recorded, sizes past the limits above, or no codec).
std::optional<DeltaChoice> chooseDelta(const ManifestEntry& entry, const InstallRecord* record,
                                       const std::filesystem::path& installDir);

enum class RebuildOutcome {
    Rebuilt,     // `out` holds entry.size bytes: check them by the entry's digests
    NoBase,      // the base cannot be read (gone, not a file, not in its archive)
    BadDelta,    // the delta is damaged, for another base, or of another length
};

// Rebuilds the content of `entry` from its installed base and the bytes of
// `delta` (already checked against delta.sha256 by the caller) into `out`,
// resized to entry.size: a buffer reused from call to call keeps its memory
// and is not cleared first (every byte is written, or `out` is emptied).
// Archives are read through `archives` (each directory read once per run); a
// member's base is read and inflated into `scratch` (not into its `output`,
// which may be `out`), reused from call to call.
RebuildOutcome rebuildFromDelta(const std::filesystem::path& installDir, const ManifestEntry& entry,
                                std::string_view deltaBytes, ArchiveCache& archives, vfile::CodecBuffers& scratch,
                                std::string& out);

// "Rebuilt from a delta: <path> (<n> bytes fetched for <m>)" and the line
// for a fallback, "Delta not used for <path> (<why>); fetching it whole".
std::u16string deltaRebuiltLogLine(const ManifestEntry& entry, std::uint64_t deltaBytes);
std::u16string deltaFallbackLogLine(const ManifestEntry& entry, std::u16string_view why);

}  // namespace mendly
