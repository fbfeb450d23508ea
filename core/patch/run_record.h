#pragma once
// The last step of a successful patch run: the installation's record
// (install_record.h) rewritten from what this run knows to be verified.
//
// An entry goes into the record only when its bytes were hashed by this run
// or vouched for by the previous record, and its holder's stamp now is the
// one noted before those bytes were read (or, for a holder this run wrote,
// the one noted right after writing, before the final check read it). A
// holder written by anyone else in between changes its stamp and is left out,
// so the next run hashes it again. A change that leaves size, modification
// time and file number all as they were (a write within the file system's
// timestamp tick that keeps the size) is not seen: `--verify` hashes
// everything whatever the record says.
//
// Runs on the run's own thread, after the final check's workers have ended.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "patch/holder_stamps.h"
#include "patch/install_record.h"
#include "patch/manifest.h"
#include "patch/patch_mode.h"

namespace mendly {

class ArchiveCache;

// The holders (keys) of the entries in `list` (manifest indices), plus the
// archives `alsoWrittenArchives` names: what the apply step may write.
std::set<std::string> holdersWrittenBy(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                       const std::filesystem::path& installDir,
                                       const std::set<std::string>& alsoWrittenArchives);

// The record for the `selected` entries of `manifest`, all verified by the
// run: `beforeRead` are the stamps noted during verification, `afterWrite`
// those of the holders in `written`, noted after the apply step. Archive
// directories come from `archives` when given (the archives as the run
// leaves them), else are read here.
InstallRecord buildRunRecord(const PatchManifest& manifest, std::string manifestSha256,
                             const std::vector<std::size_t>& selected, const std::filesystem::path& installDir,
                             const HolderStamps& beforeRead, const HolderStamps& afterWrite,
                             const std::set<std::string>& written, ArchiveCache* archives = nullptr);

// What a run carries from verification to its record. One owner: the run's
// own thread.
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
    void noteWritten(const std::filesystem::path& installDir);
    // Replaces the record after a successful run (not for an INI reset, which
    // verifies too little to vouch for the rest). A record that cannot be
    // written costs the next run a full verification, not this run its
    // result: "ERROR: Cannot write: <path>" is logged.
    void save(const PatchManifest& manifest, const std::vector<std::size_t>& selected,
              const std::filesystem::path& installDir, PatchMode mode, ArchiveCache* archives = nullptr) const;
};

}  // namespace mendly
