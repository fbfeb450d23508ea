#include "patch/run_record.h"

#include "catalog/path_text.h"
#include "log/log_file.h"
#include "log/text.h"
#include "patch/archive_cache.h"
#include "patch/archive_paths.h"

namespace mendly {

std::set<std::string> holdersWrittenBy(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                                       const std::filesystem::path& installDir,
                                       const std::set<std::string>& alsoWrittenArchives) {
    std::set<std::string> written;
    for (const std::size_t index : list) written.insert(holderFor(installDir, manifest.files[index]).key);
    for (const std::string& name : alsoWrittenArchives)
        written.insert(archivePathFor(installDir, name).lexically_relative(installDir).generic_string());
    return written;
}

InstallRecord buildRunRecord(const PatchManifest& manifest, std::string manifestSha256,
                             const std::vector<std::size_t>& selected, const std::filesystem::path& installDir,
                             const HolderStamps& beforeRead, const HolderStamps& afterWrite,
                             const std::set<std::string>& written, ArchiveCache* given) {
    InstallRecord record;
    record.setManifestDigest(std::move(manifestSha256));
    ArchiveCache own;
    ArchiveCache& archives = given ? *given : own;  // the directories as the run leaves them
    struct HolderState {
        bool still = false;  // stamp unchanged since it was noted
        std::shared_ptr<const vfile::Archive> archive;  // archives only
    };
    std::map<std::string, HolderState, std::less<>> holders;  // by key
    for (const std::size_t index : selected) {
        const ManifestEntry& entry = manifest.files[index];
        if (!isHexText(entry.md5, 32)) continue;
        const EntryHolder holder = holderFor(installDir, entry);
        auto [known, fresh] = holders.try_emplace(holder.key);
        HolderState& state = known->second;
        if (fresh) {
            const auto noted = written.contains(holder.key) ? afterWrite.find(holder.key) : beforeRead.find(holder.key);
            const auto now = platform::fileStamp(holder.path);
            state.still = noted && now && *noted == *now;
            if (state.still) record.addHolder(holder.key, *now);
            if (state.still && holder.isArchive) state.archive = archives.get(holder.path);
        }
        if (!state.still) continue;
        RecordedEntry recorded{holder.key, asciiLowered(entry.md5), asciiLowered(entry.sha256), 0, 0};
        if (holder.isArchive) {
            const auto ref = classifyArchivePath(entry.relative);
            const auto member = ref && state.archive ? state.archive->find(ref->memberPath) : std::nullopt;
            if (!member) continue;
            recorded.storedSize = member->storedSize;
            recorded.originalSize = member->originalSize;
        }
        record.addEntry(entry.relative, std::move(recorded));
    }
    return record;
}

void RecordKeeping::noteWritten(const std::filesystem::path& installDir) {
    for (const std::string& key : written) (void)afterWrite.noteNow(key, installDir / std::filesystem::path(key));
}

void RecordKeeping::save(const PatchManifest& manifest, const std::vector<std::size_t>& selected,
                         const std::filesystem::path& installDir, PatchMode mode, ArchiveCache* archives) const {
    if (mode == PatchMode::ResetIni || recordStands) return;
    const InstallRecord record =
        buildRunRecord(manifest, manifestDigest, selected, installDir, beforeRead, afterWrite, written, archives);
    if (!record.save(installDir))
        LogFile::write(u"ERROR: Cannot write: " + pathText(installDir / kInstallRecordFileName));
}

}  // namespace mendly
