#include "patch/apply_stage.h"

#include <algorithm>
#include <map>
#include <set>
#include <fstream>
#include <system_error>

#include "catalog/path_text.h"
#include "log/log_file.h"
#include "log/text.h"
#include "hash/digest.h"
#include "patch/archive_paths.h"
#include "patch/patch_reporting.h"
#include "patch/payload_records.h"
#include "patch/staged_file.h"
#include "patch/vfile/entry_stream.h"

namespace mendly {
namespace fs = std::filesystem;

namespace {

constexpr std::u16string_view kDash = u" \u2014 ";

// Moves a staged file over its target. rename() replaces an existing file
// atomically, so the target is never missing or half-written; only when that
// fails (the target is an empty folder, or its folder lies on another volume
// through a link) is the target deleted first, or the file copied over.
bool moveOverTarget(const fs::path& staged, const fs::path& target) {
    std::error_code ec;
    fs::rename(staged, target, ec);
    if (!ec) return true;

    std::error_code ignored;
    if (fs::exists(fs::symlink_status(target, ignored))) fs::remove(target, ignored);  // never recursive
    fs::rename(staged, target, ec);
    if (!ec) return true;

    if (fs::copy_file(staged, target, fs::copy_options::overwrite_existing, ec) && !ec) {
        fs::remove(staged, ignored);
        return true;
    }
    return false;
}

// Puts one loose file in place. A staged file that later slots still need
// (two entries with the same contents) is copied, the last use moves it.
bool placeLooseFile(const ManifestEntry& entry, const fs::path& staged, bool lastUse, const fs::path& installDir,
                    std::u16string& error) {
    const std::u16string name = toWide(entry.relative);
    const fs::path target = looseFilePath(installDir, entry.relative);
    std::error_code ec;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    const std::u16string logPrefix = u"ERROR: " + name + std::u16string(kDash);
    if (ec) return failWithLog(error, u"Cannot write: " + pathText(target), logPrefix);
    fs::path source = staged;
    if (!lastUse) {
        source += ".copy";
        fs::remove(source, ec);
        if (!fs::copy_file(staged, source, ec) || ec)
            return failWithLog(error, u"Cannot write: " + pathText(source), logPrefix);
    }
    if (!moveOverTarget(source, target))
        return failWithLog(error, u"Cannot rename part to: " + pathText(target), logPrefix);
    return true;
}

// The MD5 of the contents a converted payload's staged entry holds raw.
std::string convertedContentsMd5(const fs::path& staged) {
    const auto info = readStagedEntryInfo(staged);
    std::ifstream in(staged, std::ios::binary);
    if (!info || !in.seekg(static_cast<std::streamoff>(info->offset))) return {};
    Md5Stream md5;
    std::string buffer;
    if (!vfile::readPieces(in, info->storedSize, [&md5](std::string_view piece) { md5.update(piece); }, buffer))
        return {};
    return md5.finishHex();
}

// Keeps the installation's payload records to the manifest's payloads, plus
// the payloads this run had to store as their contents.
void updatePayloadRecords(const PatchManifest& manifest, const std::vector<DownloadSlot>& slots,
                          const StagingArea& staging, const fs::path& installDir) {
    PayloadRecords records = PayloadRecords::load(installDir);
    if (!records.empty()) {
        std::set<std::string> listed;
        for (const ManifestEntry& entry : manifest.files) listed.insert(entry.md5);
        records.retain(listed);
    }
    for (const DownloadSlot& slot : slots) {
        if (!slot.stagedName.ends_with(".converted")) continue;
        const std::string contents = convertedContentsMd5(staging.pathFor(slot.stagedName));
        if (!contents.empty()) records.add(manifest.files[slot.index].md5, contents);
    }
    if (!records.save(installDir))
        LogFile::write(u"ERROR: Cannot write: " + toWide((installDir / kPayloadRecordsFileName).string()));
}

// A member whose archive is assembled but which did not go there as it
// arrived (too large for memory, or its contents shared with another
// archive's member): its staged stored form is copied in now.
bool assembleStagedMember(ArchiveAssembly& assembly, const ManifestEntry& entry, const ArchiveMemberRef& ref,
                          const fs::path& staged, std::u16string& error) {
    const auto info = readStagedEntryInfo(staged);
    if (info && assembly.appendFrom(ref.memberPath, entry.md5, info->originalSize, staged, info->offset,
                                    info->storedSize))
        return true;
    return failWithLog(error, u"Failed to write archive: " + pathText(assembly.archivePath()), u"ERROR: ");
}

// Completes every assembled archive (its directory written, then renamed
// into place), one progress step each.
bool finishAssemblies(PatchWindow* window, ArchiveAssemblies& assemblies, std::int32_t& done, std::int32_t total,
                      std::u16string& error) {
    for (auto& [name, assembly] : assemblies) {
        const fs::path& path = assembly->archivePath();
        LogFile::write(archiveUpdateLogLine(path, assembly->memberCount(), assembly->legacyNames()));
        if (!assembly->finish())
            return failWithLog(error, u"Failed to write archive: " + pathText(path), u"ERROR: ");
        ++done;
        reportProgress(window, done, std::max<std::int32_t>(1, total));
    }
    return true;
}

}  // namespace

bool applyStagedFiles(PatchWindow* window, const PatchManifest& manifest, const std::vector<DownloadSlot>& slots,
                      const StagingArea& staging, const fs::path& installDir, PatchMode mode,
                      const ArchiveRemovals& orphans, ArchiveAssemblies& assemblies, std::u16string& error) {
    reportStage(window, PatchStage::Apply);
    reportProgress(window, 0, 1);
    ArchiveUpdates updates;
    ArchiveRemovals removals;
    std::vector<const DownloadSlot*> looseSlots;
    std::map<std::string, std::size_t> lastLooseUse;  // staged name -> position in looseSlots
    for (const DownloadSlot& slot : slots) {
        const ManifestEntry& entry = manifest.files[slot.index];
        if (const auto ref = classifyArchivePath(entry.relative)) {
            const auto assembly = assemblies.find(ref->archiveName);
            if (assembly != assemblies.end()) {
                if (!slot.assembled && !assembleStagedMember(*assembly->second, entry, *ref,
                                                             staging.pathFor(slot.stagedName), error))
                    return false;
                continue;
            }
            if (!addStagedArchiveUpdate(staging.pathFor(slot.stagedName), entry, *ref, updates, removals, error)) {
                LogFile::write(u"ERROR: " + error);
                return false;
            }
        } else {
            lastLooseUse[slot.stagedName] = looseSlots.size();
            looseSlots.push_back(&slot);
        }
    }
    for (const auto& [archive, names] : orphans) {
        auto& into = removals[archive];
        into.insert(into.end(), names.begin(), names.end());
    }

    std::set<std::string> archives;
    for (const auto& item : updates) archives.insert(item.first);
    for (const auto& item : removals) archives.insert(item.first);
    for (const auto& item : assemblies) archives.insert(item.first);
    const std::int32_t total = progressCount(looseSlots.size() + archives.size());
    std::int32_t done = 0;
    reportProgress(window, 0, std::max<std::int32_t>(1, total));

    for (std::size_t i = 0; i < looseSlots.size(); ++i) {
        const DownloadSlot& slot = *looseSlots[i];
        const bool lastUse = lastLooseUse[slot.stagedName] == i;
        if (!placeLooseFile(manifest.files[slot.index], staging.pathFor(slot.stagedName), lastUse, installDir, error))
            return false;
        ++done;
        reportProgress(window, done, std::max<std::int32_t>(1, total));
    }
    if (!finishAssemblies(window, assemblies, done, total, error)) return false;
    if (!updateArchives(window, installDir, updates, removals, done, total, error)) return false;
    if (mode != PatchMode::ResetIni) updatePayloadRecords(manifest, slots, staging, installDir);
    return true;
}

}  // namespace mendly
