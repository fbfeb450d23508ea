#pragma once
// A verification worker's entries hashed side by side: up to eight loose
// files and archive members at once, their MD5s in the lanes of one
// Md5Lanes (md5_lanes.h), each with its own SHA-256 where the manifest names
// one. An entry's verdict is the one verifyEntry (local_verification.h)
// gives it; only the order in which verdicts come differs.
//
// Memory: a lane reading a file or a member stored raw holds one piece
// (kStreamChunk); a compressed member is inflated whole into its lane, as
// verifyEntry does. An entry is let into a lane only while the lanes' pieces
// stay under kLaneBudget, so they hold at most that and one whole member
// (kWholeEntryLimit), and keep at most twice the budget between entries.
//
// Threads: one VerifyLanes per worker, used on its thread; verdicts are
// given on it. The cache is shared (archive_cache.h).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "hash/md5_lanes.h"
#include "patch/archive_cache.h"
#include "patch/archive_paths.h"
#include "patch/manifest.h"
#include "patch/vfile/archive_reader.h"

namespace mendly {

class VerifyLanes {
public:
    static constexpr std::uint64_t kLaneBudget = 16u << 20;

    using Verdict = std::function<void(std::size_t index, bool matches)>;
    VerifyLanes(const std::filesystem::path& installDir, ArchiveCache& cache, Verdict verdict);
    ~VerifyLanes();
    VerifyLanes(const VerifyLanes&) = delete;
    VerifyLanes& operator=(const VerifyLanes&) = delete;

    // Starts checking manifest entry `index`, hashing the entries in the
    // lanes meanwhile until one is free. False, with nothing started, for an
    // entry no lane takes (a single-file payload member, a member too large
    // to inflate whole): the caller checks it alone. Never throws.
    bool take(std::size_t index, const ManifestEntry& entry) noexcept;
    // Hashes until every entry taken has had its verdict, or until the patch
    // run's cancel flag is set (the rest get none). Never throws.
    void finishAll() noexcept;

private:
    struct Lane;
    enum class Start { Started, Refused, Concluded };
    Start start(Lane& lane, std::size_t index, const ManifestEntry& entry);
    Start startMember(Lane& lane, const ArchiveMemberRef& ref);
    void hashOnce();
    bool refill(Lane& lane);
    void conclude(std::size_t slot, bool hashed);
    std::uint64_t piecesInUse() const;

    std::filesystem::path installDir_;
    ArchiveCache& cache_;
    Verdict verdict_;
    Md5Lanes md5_;
    std::unique_ptr<Lane[]> lanes_;
    vfile::ArchiveReader reader_;  // the archive last read from, kept open while members of it come in
    std::string stored_;  // a compressed member's stored bytes, before inflating
};

}  // namespace mendly
