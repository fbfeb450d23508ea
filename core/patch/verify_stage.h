#pragma once
// The verification step of a patch run: which selected entries need
// patching, judged from the installation's record where it vouches for them
// and by hashing the rest (local_verification.h), and which archive entries
// the manifest no longer lists.
//
// Runs on the run's own thread (the verification starts and joins its own
// workers); the record is read on a thread of its own while the manifest is
// fetched.
#include <cstddef>
#include <filesystem>
#include <future>
#include <optional>
#include <vector>

#include "patch/archive_update.h"
#include "patch/holder_stamps.h"
#include "patch/install_record.h"
#include "patch/manifest.h"
#include "patch/patch_mode.h"
#include "patch/patch_window.h"

namespace mendly {

// What verification found: the selected entries that need patching, sorted
// by relative path, how many of them the record vouched for, and the archive
// entries the manifest no longer lists (none in ResetIni mode).
struct VerifiedState {
    std::vector<std::size_t> list;
    std::size_t fromRecord = 0;
    ArchiveRemovals orphans;
};

// Verifies `selected`: stage Verify, progress (0, max(1, N)) and on. Every
// holder is stamped into `stamps` before it is read; entries `record` (may be
// null) vouches for are not read. Each archive directory is read once for
// both.
VerifiedState verifyEntries(PatchWindow* window, const PatchManifest& manifest,
                            const std::vector<std::size_t>& selected, const std::filesystem::path& installDir,
                            const InstallRecord* record, HolderStamps& stamps, PatchMode mode);

// The installation's record, read on a thread of its own (Update runs only;
// the others hash everything: no future then).
std::future<std::optional<InstallRecord>> startRecordLoad(const std::filesystem::path& installDir, PatchMode mode);

}  // namespace mendly
