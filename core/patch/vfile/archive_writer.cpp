#include "patch/vfile/archive_writer.h"

#include <map>
#include <system_error>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_directory.h"
#include "patch/vfile/archive_in_place.h"
#include "patch/vfile/archive_journal.h"
#include "patch/vfile/archive_name.h"
#include "patch/vfile/format.h"
#include "platform/file_output.h"
#include "platform/file_update.h"

namespace mendly::vfile {
namespace {

// Data offsets for a whole archive: the stored bytes right after the
// directory, in directory order. False when they would pass 0x7FFFFFFF.
bool placeDataAfterDirectory(std::vector<DirectoryRecord>& records) {
    std::uint64_t dataEnd = directoryEnd(records);
    for (auto& record : records) {
        record.dataOffset = static_cast<std::uint32_t>(dataEnd);
        dataEnd += record.storedSize;
        if (dataEnd > kMaxStoredValue) return false;
    }
    return true;
}

// Writes the whole archive to `target` and flushes it to the disk, so that
// renaming it over the old archive can never leave a name for bytes that are
// not there yet. `created` tells whether the file was opened (and so is ours
// to remove on failure).
bool writeAll(const std::filesystem::path& target, const std::string& directory,
              const std::vector<EntrySource>& entries, bool& created) {
    platform::FileOutput out;
    created = out.create(target);
    if (!created || !out.write(directory)) return false;
    for (const auto& entry : entries) {
        if (entry.file.empty()) {
            if (entry.bytes.size() != entry.storedSize || !out.write(entry.bytes)) return false;
        } else if (!out.appendFrom(entry.file, entry.offset, entry.storedSize)) {
            return false;
        }
    }
    return out.flush() && out.close();
}

struct KeyLess {
    bool operator()(const std::string& a, const std::string& b) const { return archiveKeyLess(a, b); }
};

// The archive at `path` was written whole: true, with its size as the cost.
bool reportRewritten(const std::filesystem::path& path, ArchiveUpdateReport& report) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    report = {UpdateMethod::Rewritten, ec ? 0 : static_cast<std::uint64_t>(size)};
    return true;
}

std::vector<EntrySource> inMemorySources(const std::vector<NamedEntry>& entries) {
    std::vector<EntrySource> sources;
    sources.reserve(entries.size());
    for (const auto& entry : entries) sources.push_back(EntrySource::inMemory(entry.name, entry.stored));
    return sources;
}

}  // namespace

EntrySource EntrySource::inMemory(std::string name, const StoredEntry& stored) {
    EntrySource source;
    source.name = std::move(name);
    source.storedSize = stored.bytes.size();
    source.originalSize = stored.originalSize;
    source.bytes = stored.bytes;
    return source;
}

bool writeArchiveFromSources(const std::filesystem::path& path, const std::vector<EntrySource>& entries) {
    auto records = directoryRecordsFor(entries);
    if (!records || !placeDataAfterDirectory(*records)) return false;
    const std::string directory = encodeDirectory(*records);

    std::error_code ec;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);

    // The old archive stays whole until the new one is complete on disk.
    std::filesystem::path staging = path;
    staging += ".part";
    bool created = false;
    if (!writeAll(staging, directory, entries, created)) {
        if (created) std::filesystem::remove(staging, ec);
        return false;
    }
    std::filesystem::rename(staging, path, ec);
    if (ec) {
        std::filesystem::remove(staging, ec);
        return false;
    }
    platform::flushFolder(path.parent_path());
    return true;
}

bool writeArchiveFile(const std::filesystem::path& path, const std::vector<NamedEntry>& entries) {
    return writeArchiveFromSources(path, inMemorySources(entries));
}

bool updateArchiveFromSources(const std::filesystem::path& path, const std::vector<EntrySource>& updates,
                              const std::vector<std::string>& removals) {
    ArchiveUpdateReport report;
    return updateArchiveFromSources(path, updates, removals, ArchiveUpdateOptions{}, report);
}

bool updateArchiveFromSources(const std::filesystem::path& path, const std::vector<EntrySource>& updates,
                              const std::vector<std::string>& removals, const ArchiveUpdateOptions& options,
                              ArchiveUpdateReport& report) {
    report = {};
    // An update interrupted before is undone first: the directory read below
    // is then the archive's own again.
    if (!recoverInterruptedUpdate(path)) return false;
    const auto archive = Archive::open(path);
    if (!archive) return !updates.empty() && writeArchiveFromSources(path, updates) && reportRewritten(path, report);

    std::map<std::string, PlannedEntry, KeyLess> byKey;
    for (const auto& entry : archive->entries()) {
        if (byKey.contains(entry.key)) continue;  // of equal keys the first entry wins
        PlannedEntry kept;
        kept.source.name = entry.name;
        kept.source.storedSize = entry.storedSize;
        kept.source.originalSize = entry.originalSize;
        kept.source.offset = entry.offset;
        kept.kept = true;
        kept.key = entry.key;
        byKey.emplace(entry.key, std::move(kept));
    }
    for (const auto& removal : removals) byKey.erase(archiveKey(normalizeArchiveName(removal)));
    for (const auto& update : updates) {
        PlannedEntry entry{update, false, {}};
        entry.source.name = normalizeArchiveName(update.name);
        entry.key = archiveKey(entry.source.name);
        const std::string key = entry.key;
        byKey.insert_or_assign(key, std::move(entry));
    }
    if (byKey.empty()) {
        std::error_code ec;
        report.method = UpdateMethod::Deleted;
        return std::filesystem::remove(path, ec) && !ec;  // a link at that name goes, never what it points to
    }

    std::vector<PlannedEntry> planned;
    planned.reserve(byKey.size());
    for (auto& item : byKey) planned.push_back(std::move(item.second));
    switch (updateArchiveInPlace(path, planned, options, report)) {
        case InPlaceResult::Written: return true;
        case InPlaceResult::Failed: return false;
        case InPlaceResult::RewriteInstead: break;
    }
    std::vector<EntrySource> sorted;
    sorted.reserve(planned.size());
    for (auto& entry : planned) {
        if (entry.kept) entry.source.file = path;
        sorted.push_back(std::move(entry.source));
    }
    return writeArchiveFromSources(path, sorted) && reportRewritten(path, report);
}

bool updateArchiveFile(const std::filesystem::path& path, const std::vector<NamedEntry>& updates,
                       const std::vector<std::string>& removals) {
    return updateArchiveFromSources(path, inMemorySources(updates), removals);
}

}  // namespace mendly::vfile
