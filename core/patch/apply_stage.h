#pragma once
// The apply step of a patch run: the staged downloads go into place. Loose
// files are renamed from the staging folder over their targets (one write of
// every byte, in the download stage); archive members become updates of their
// archives, which are rewritten once each, streaming: unchanged entries are
// copied from the old archive in pieces, new ones from their staged files.
// Entries the manifest no longer lists are removed (not in ResetIni mode).
// New archives assembled during the download (archive_assembly.h) get the
// members that were staged instead, then their directory, and are renamed
// into place.
//
// Runs on the run's own thread, after the download workers have ended.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "patch/archive_assembly.h"
#include "patch/archive_update.h"
#include "patch/download_stage.h"
#include "patch/manifest.h"
#include "patch/patch_mode.h"
#include "patch/patch_window.h"
#include "patch/staging_area.h"

namespace mendly {

// Applies every slot (all ok) in list order: status "Applying patches...",
// progress (0, 1), then (0, max(1, M)) and one step per loose file and per
// archive, M = loose files + archives touched. False with the sentence in
// `error` (already logged) at the first failure: "Cannot write: " (a folder
// for the file cannot be made), "Cannot rename part to: " + target, the
// staged-member errors of addStagedArchiveUpdate, "Failed to write archive: ".
// What was applied before a failure stays applied. `orphans` are the entries
// to remove besides (findOrphanEntries; empty in ResetIni mode).
[[nodiscard]] bool applyStagedFiles(PatchWindow* window, const PatchManifest& manifest,
                                    const std::vector<DownloadSlot>& slots, const StagingArea& staging,
                                    const std::filesystem::path& installDir, PatchMode mode,
                                    const ArchiveRemovals& orphans, ArchiveAssemblies& assemblies,
                                    std::u16string& error);

}  // namespace mendly
