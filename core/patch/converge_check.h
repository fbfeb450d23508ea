#pragma once
// The last step of a patch run: everything the run wrote must now verify
// against the manifest, or the run has not brought the client up to date and
// must not say it did.
//
// Runs on the caller's thread with its own workers (one per core), joined
// before it returns; reports no progress.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <vector>

#include "patch/archive_assembly.h"
#include "patch/archive_cache.h"
#include "patch/download_stage.h"
#include "patch/holder_stamps.h"
#include "patch/manifest.h"
#include "patch/staging_area.h"

namespace mendly {

// The first position of `list` (manifest indices, in the order given) whose
// entry does not verify now; nothing when every one does. With `stamps`,
// every holder is stamped there before it is first read.
std::optional<std::size_t> firstUnconvergedPosition(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                                    const std::filesystem::path& installDir,
                                                    HolderStamps* stamps = nullptr);

// The same after a download stage, without hashing again what was hashed as
// it arrived and then placed whole. The archives are read as the reader
// reads them (overlap and bounds checks included):
// - a member of an archive assembled from nothing (archive_assembly.h)
//   converges when the archive lists it where its assembly wrote it;
// - a member added to an archive that was there, when the archive's stored
//   bytes for it are those of its staged file in `staging` (compared, not
//   inflated and hashed; members over 16 MiB are hashed);
// - a loose file that was staged and moved into place, when it is a regular
//   file of the manifest's size.
// Everything else (copies of a staged file used twice) is read and hashed.
// `archives` holds the archives as the apply step left them, opened here
// when first needed; the record built next reads their directories from it.
std::optional<std::size_t> firstUnconvergedPosition(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                                    const std::filesystem::path& installDir, HolderStamps* stamps,
                                                    const std::vector<DownloadSlot>& slots,
                                                    const ArchiveAssemblies& assemblies, const StagingArea& staging,
                                                    ArchiveCache& archives);

}  // namespace mendly
