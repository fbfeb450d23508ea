#include "patch/archive_update.h"

#include <algorithm>
#include <functional>
#include <future>
#include <system_error>

#include "catalog/path_text.h"
#include "log/log_file.h"
#include "log/text.h"
#include "patch/patch_reporting.h"
#include "patch/vfile/archive.h"
#include "patch/staged_file.h"
#include "patch/vfile/archive_journal.h"
#include "patch/vfile/archive_writer.h"

namespace mendly {

bool addStagedArchiveUpdate(const std::filesystem::path& stagedFile, const ManifestEntry& entry,
                            const ArchiveMemberRef& ref, ArchiveUpdates& updates, ArchiveRemovals& removals,
                            std::u16string& error) {
    const auto info = readStagedEntryInfo(stagedFile);
    if (!info) {
        error = (ref.hadPakPrefix ? u"Invalid single-file PAK payload: " : u"Cannot compress archive entry: ") +
                toWide(entry.relative);
        return false;
    }
    vfile::EntrySource source;
    source.name = ref.memberPath;
    source.storedSize = info->storedSize;
    source.originalSize = info->originalSize;
    source.file = stagedFile;
    source.offset = info->offset;
    updates[ref.archiveName].push_back(std::move(source));
    if (ref.hadPakPrefix) removals[ref.archiveName].push_back(ref.legacyMemberPath);
    return true;
}

ManifestMemberSet buildManifestMemberSet(const PatchManifest& manifest) {
    ManifestMemberSet members;
    for (const ManifestEntry& entry : manifest.files)
        if (const auto ref = classifyArchivePath(entry.relative))
            members[ref->archiveName].insert(archiveKey(ref->memberPath));
    return members;
}

void findOrphanEntries(const std::filesystem::path& installDir, const ManifestMemberSet& members,
                       ArchiveCache& archives, ArchiveRemovals& removals) {
    for (const std::string_view nameView : archiveNameTable) {
        const std::string name(nameView);
        const std::filesystem::path path = archivePathFor(installDir, name);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec) || ec) continue;
        const auto archive = archives.get(path);
        if (!archive) continue;  // a corrupt archive is not pruned
        const auto listed = members.find(name);
        for (const vfile::ArchiveEntry& item : archive->entries())
            if (listed == members.end() || !listed->second.contains(item.key)) removals[name].push_back(item.name);
    }
}

std::u16string archiveUpdateLogLine(const std::filesystem::path& archivePath, std::size_t updateCount,
                                    std::size_t removalCount) {
    std::u16string line = u"Updating archive: " + pathText(archivePath);
    const auto count = [](std::size_t n) { return toDecimal(static_cast<long long>(n)); };
    if (updateCount == 0) {
        line += u" (removing " + count(removalCount) + (removalCount == 1 ? u" orphan entry)" : u" orphan entries)");
    } else {
        line += u" (" + count(updateCount) + (updateCount == 1 ? u" entry" : u" entries");
        line += removalCount == 0 ? std::u16string(u")") : u", " + count(removalCount) + u" removed)";
    }
    return line;
}

namespace {

// Updates one archive; true when it was written. Runs on a thread of its own.
bool updateOneArchive(const std::filesystem::path& path, const std::vector<vfile::EntrySource>& added,
                      const std::vector<std::string>& removed) noexcept {
    try {
        return vfile::updateArchiveFromSources(path, added, removed);
    } catch (...) {
        return false;
    }
}

// Starts `work` on a thread of its own, or runs it when it is waited for if
// no thread can be had.
std::future<bool> startArchiveUpdate(std::function<bool()> work) {
    try {
        return std::async(std::launch::async, work);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, std::move(work));
    }
}

}  // namespace

bool updateArchives(PatchWindow* window, const std::filesystem::path& installDir, const ArchiveUpdates& updates,
                    const ArchiveRemovals& removals, std::int32_t& done, std::int32_t total, std::u16string& error) {
    std::set<std::string> names;
    for (const auto& item : updates) names.insert(item.first);
    for (const auto& item : removals) names.insert(item.first);

    static const std::vector<vfile::EntrySource> noUpdates;
    static const std::vector<std::string> noRemovals;
    // The archives are distinct files, updated at once: each update spends
    // most of its time waiting for its flushes to reach the disk, and those
    // waits overlap. One archive that cannot be written does not keep the
    // others out of date: each is tried, and the run fails with the first
    // error (in name order).
    std::vector<std::pair<std::filesystem::path, std::future<bool>>> started;
    for (const std::string& name : names) {
        const auto updatesFound = updates.find(name);
        const auto& added = updatesFound != updates.end() ? updatesFound->second : noUpdates;
        const auto removalsFound = removals.find(name);
        const std::vector<std::string>& removed = removalsFound != removals.end() ? removalsFound->second : noRemovals;
        if (added.empty() && removed.empty()) continue;
        const std::filesystem::path path = archivePathFor(installDir, name);
        LogFile::write(archiveUpdateLogLine(path, added.size(), removed.size()));
        started.emplace_back(path, startArchiveUpdate([path, &added, &removed] {
                                 return updateOneArchive(path, added, removed);
                             }));
    }
    std::u16string firstError;
    for (auto& [path, written] : started) {
        if (!written.get()) {
            const std::u16string failure = u"Failed to write archive: " + pathText(path);
            LogFile::write(u"ERROR: " + failure);
            if (firstError.empty()) firstError = failure;
            continue;
        }
        ++done;
        reportProgress(window, done, std::max<std::int32_t>(1, total));
    }
    if (firstError.empty()) return true;
    error = std::move(firstError);
    return false;
}

bool pruneOrphanArchiveEntries(PatchWindow* window, const std::filesystem::path& installDir,
                               const ArchiveRemovals& orphans, std::u16string& error) {
    if (orphans.empty()) return true;
    reportStage(window, PatchStage::Prune);
    std::int32_t done = 0;
    const auto archives = static_cast<std::int32_t>(orphans.size());
    reportProgress(window, 0, std::max<std::int32_t>(1, archives));
    return updateArchives(window, installDir, {}, orphans, done, archives, error);
}

void recoverInterruptedArchiveUpdates(const std::filesystem::path& installDir) {
    for (const std::string_view name : archiveNameTable) {
        const std::filesystem::path path = archivePathFor(installDir, name);
        std::error_code ec;
        const auto journal = std::filesystem::symlink_status(vfile::journalPathFor(path), ec);
        if (!std::filesystem::is_regular_file(journal) && !std::filesystem::is_symlink(journal)) continue;
        LogFile::write(u"Recovering an interrupted archive update: " + pathText(path));
        if (!vfile::recoverInterruptedUpdate(path))
            LogFile::write(u"ERROR: Cannot recover an interrupted archive update: " + pathText(path));
    }
}

void removeLegacyStateFiles(const std::filesystem::path& installDir) {
    for (const char* name : {".mendly-vfile-state.json", ".mendly-vfile-state.json.part"}) {
        const std::filesystem::path path = installDir / name;
        std::error_code ec;
        // Files only: a folder of that name is somebody else's.
        if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ec))) continue;
        std::filesystem::remove(path, ec);
    }
}

}  // namespace mendly
