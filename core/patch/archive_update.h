#pragma once
// The archive side of a patch run's apply step: downloaded archive members
// become stored entries, entries the manifest no longer lists (orphans) are
// marked for removal, and each affected archive is updated once with all of
// its changes. Everything here runs on the run's own thread.
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "patch/archive_cache.h"
#include "patch/archive_paths.h"
#include "patch/manifest.h"
#include "patch/patch_window.h"
#include "patch/vfile/archive_writer.h"

namespace mendly {

// archiveName -> new members (name = ArchiveMemberRef::memberPath, stored
// bytes in a staged file) in the order they were added.
using ArchiveUpdates = std::map<std::string, std::vector<vfile::EntrySource>>;
// archiveName -> entry names to delete, in the order they were added.
using ArchiveRemovals = std::map<std::string, std::vector<std::string>>;
// archiveName -> archiveKey of every member the manifest lists for it.
using ManifestMemberSet = std::map<std::string, std::set<std::string>>;

// Turns one staged member (a file in payload layout: a stored entry the
// download stage compressed, or a single-file payload it checked and, where
// needed, converted) into an update of its archive; for a "pak_" member the
// entry's old "pak_" name is queued for removal. Nothing is read but the
// file's header. Error: "Invalid single-file PAK payload: " (payloads) or
// "Cannot compress archive entry: " (plain members) + the entry's relative
// path, when the staged file is unreadable.
[[nodiscard]] bool addStagedArchiveUpdate(const std::filesystem::path& stagedFile, const ManifestEntry& entry,
                                          const ArchiveMemberRef& ref, ArchiveUpdates& updates,
                                          ArchiveRemovals& removals, std::u16string& error);

// Every archive member of the manifest, whatever a run's mode selects.
ManifestMemberSet buildManifestMemberSet(const PatchManifest& manifest);

// Appends to `removals` every entry of an existing, readable archive of
// installDir that `members` does not list (in archiveNameTable order, then
// directory order), reading the directories through `archives`. Missing or
// corrupt archives are left alone.
void findOrphanEntries(const std::filesystem::path& installDir, const ManifestMemberSet& members,
                       ArchiveCache& archives, ArchiveRemovals& removals);

// The log line for rewriting `archivePath` with `updateCount` new members and
// `removalCount` removed entries, e.g. "Updating archive: <path> (3 entries, 2 removed)".
std::u16string archiveUpdateLogLine(const std::filesystem::path& archivePath, std::size_t updateCount,
                                    std::size_t removalCount);

// Updates every archive named in `updates` or `removals` once, in name order,
// logging archiveUpdateLogLine first. After each archive, done += 1 and
// progress (done, max(1, total)). Every archive is tried: false with "Failed
// to write archive: " + path of the first that could not be written (each is
// logged); the archives written stay written.
[[nodiscard]] bool updateArchives(PatchWindow* window, const std::filesystem::path& installDir,
                                  const ArchiveUpdates& updates, const ArchiveRemovals& removals, std::int32_t& done,
                                  std::int32_t total, std::u16string& error);

// Removes `orphans` (findOrphanEntries) from the archives of installDir when
// there are any: status "Pruning orphan archive entries...", progress per
// archive. For a run in which every file already matched. True when there was
// nothing to do or every archive was rewritten.
[[nodiscard]] bool pruneOrphanArchiveEntries(PatchWindow* window, const std::filesystem::path& installDir,
                                             const ArchiveRemovals& orphans, std::u16string& error);

// Undoes the interrupted in-place update of every archive of installDir that
// has one (vfile::recoverInterruptedUpdate, in archiveNameTable order), so
// that each reads as it did before that update; removes journals that are
// torn or do not fit their archive. For the start of a run, before anything
// reads the archives. Logs "Recovering an interrupted archive update:
// <path>" for each journal found, and "ERROR: Cannot recover an interrupted
// archive update: <path>" where one stays (that archive's next update fails,
// and tries again).
void recoverInterruptedArchiveUpdates(const std::filesystem::path& installDir);

// Deletes ".mendly-vfile-state.json" and ".mendly-vfile-state.json.part" in
// installDir, ignoring files that are absent or cannot be deleted. Nothing
// writes or reads them any more.
void removeLegacyStateFiles(const std::filesystem::path& installDir);

}  // namespace mendly
