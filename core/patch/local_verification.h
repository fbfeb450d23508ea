#pragma once
// The verification stage of a patch run: every selected manifest entry is
// checked against what is on disk (a loose file in the installation folder or
// a member of one of the game's archives) by its digests, or, in an update
// run, judged from the installation's record when the file holding it has not
// changed since a run verified it (install_record.h).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "patch/archive_cache.h"
#include "patch/holder_stamps.h"
#include "patch/install_record.h"
#include "patch/manifest.h"
#include "patch/patch_window.h"
#include "patch/vfile/archive_reader.h"

namespace mendly {

// True when the local copy of `entry` exists and has the manifest's MD5.
// Missing, unreadable, corrupt or a folder in the file's place: false. An
// archive whose names are not all lowercase never matches, so all of its
// members get patched and the archive is rewritten. A "pak_" member is
// compared as the single-file payload rebuilt from its stored bytes.
// Thread-safe; never throws (an exception while checking counts as a mismatch).
// Archive members are read in pieces (inflated and hashed as they are read),
// so checking costs memory in proportion to a piece, not to a member.
bool verifyEntry(const ManifestEntry& entry, const std::filesystem::path& installDir, ArchiveCache& cache) noexcept;
// The same with a worker's own reader (its open archive and buffers).
bool verifyEntry(const ManifestEntry& entry, const std::filesystem::path& installDir, ArchiveCache& cache,
                 vfile::ArchiveReader& reader) noexcept;

// Progress is reported every this many checked entries (and at the last one):
// max(1, total / 100).
std::int32_t verificationReportStep(std::int32_t total);

// What a verification pass found: the indices that need patching (in no
// particular order) and how many entries the record vouched for unread.
struct VerificationResult {
    std::vector<std::size_t> needPatching;
    std::size_t fromRecord = 0;
};

// Checks manifest.files[i] for every i in `selected` on workerCount(n) threads.
// Every holder is stamped into `stamps` before it is first read. With a
// `record`, an entry it vouches for (same holder stamp, same MD5, and for a
// member the same sizes in the archive's directory now) counts as matching
// without being read, and an entry whose unchanged holder the record says
// holds other content (another MD5 or SHA-256) needs patching without being
// read. Reports
// progress (done, T), T = max(1, n), whenever done == T or done is a multiple
// of the reporting step; reports come from the worker threads, possibly out of
// order. The caller has sent "Verifying local files..." and (0, T) before.
// Stops early, with an incomplete list, once the cancel flag is set (each
// worker stops after the piece in hand); the caller checks the flag.
// A worker hashes up to eight entries side by side (verify_lanes.h).
VerificationResult verifyLocalFiles(const PatchManifest& manifest, const std::vector<std::size_t>& selected,
                                    const std::filesystem::path& installDir, PatchWindow* window, ArchiveCache& cache,
                                    const InstallRecord* record, HolderStamps& stamps);

}  // namespace mendly
