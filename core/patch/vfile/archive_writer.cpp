#include "patch/vfile/archive_writer.h"

#include <map>
#include <optional>
#include <system_error>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_name.h"
#include "patch/vfile/byte_order.h"
#include "patch/vfile/format.h"
#include "platform/file_output.h"

namespace mendly::vfile {
namespace {

struct PlannedRecord {
    std::string key;
    std::uint32_t dataOffset = 0;
};

// Keys and data offsets for `entries`, or nothing when any rule of the format
// would be broken.
std::optional<std::vector<PlannedRecord>> planRecords(const std::vector<EntrySource>& entries) {
    if (entries.empty() || entries.size() > kMaxStoredValue) return std::nullopt;
    std::vector<PlannedRecord> records;
    records.reserve(entries.size());
    std::uint64_t directoryEnd = kHeaderSize;
    for (const auto& entry : entries) {
        std::string key = archiveKey(normalizeArchiveName(entry.name));
        if (key.empty() || key == "." || key.size() > kMaxNameLength) return std::nullopt;
        if (entry.storedSize > kMaxStoredValue || entry.originalSize > kMaxStoredValue) return std::nullopt;
        directoryEnd += kRecordFixedSize + key.size();
        if (directoryEnd > kMaxStoredValue) return std::nullopt;
        records.push_back({std::move(key), 0});
    }
    std::uint64_t dataEnd = directoryEnd;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        records[i].dataOffset = static_cast<std::uint32_t>(dataEnd);
        dataEnd += entries[i].storedSize;
        if (dataEnd > kMaxStoredValue) return std::nullopt;
    }
    return records;
}

std::string encodeDirectory(const std::vector<EntrySource>& entries, const std::vector<PlannedRecord>& records) {
    std::string out;
    appendLe32(out, kArchiveMagic);
    appendLe32(out, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& key = records[i].key;
        const auto keyLength = static_cast<std::uint32_t>(key.size());
        appendLe32(out, static_cast<std::uint32_t>(kRecordFixedSize) + keyLength);
        appendLe32(out, records[i].dataOffset);
        appendLe32(out, static_cast<std::uint32_t>(entries[i].storedSize));
        appendLe32(out, entries[i].originalSize);
        appendLe32(out, keyLength);
        out += key;
    }
    return out;
}

// Writes the whole archive to `target`. `created` tells whether the file was
// opened (and so is ours to remove on failure). Kept entries are copied from
// the old archive inside the kernel where it can.
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
    return out.close();
}

struct KeyLess {
    bool operator()(const std::string& a, const std::string& b) const { return archiveKeyLess(a, b); }
};

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
    const auto records = planRecords(entries);
    if (!records) return false;
    const std::string directory = encodeDirectory(entries, *records);

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
    return true;
}

bool writeArchiveFile(const std::filesystem::path& path, const std::vector<NamedEntry>& entries) {
    return writeArchiveFromSources(path, inMemorySources(entries));
}

bool updateArchiveFromSources(const std::filesystem::path& path, const std::vector<EntrySource>& updates,
                              const std::vector<std::string>& removals) {
    const auto archive = Archive::open(path);
    if (!archive) return !updates.empty() && writeArchiveFromSources(path, updates);

    std::map<std::string, EntrySource, KeyLess> byKey;
    for (const auto& entry : archive->entries()) {
        if (byKey.contains(entry.key)) continue;  // of equal keys the first entry wins
        EntrySource kept;
        kept.name = entry.name;
        kept.storedSize = entry.storedSize;
        kept.originalSize = entry.originalSize;
        kept.file = path;
        kept.offset = entry.offset;
        byKey.emplace(entry.key, std::move(kept));
    }
    for (const auto& removal : removals) byKey.erase(archiveKey(normalizeArchiveName(removal)));
    for (const auto& update : updates) {
        EntrySource entry = update;
        entry.name = normalizeArchiveName(update.name);
        byKey.insert_or_assign(archiveKey(entry.name), std::move(entry));
    }
    if (byKey.empty()) {
        std::error_code ec;
        return std::filesystem::remove(path, ec) && !ec;  // a link at that name goes, never what it points to
    }

    std::vector<EntrySource> sorted;
    sorted.reserve(byKey.size());
    for (auto& item : byKey) sorted.push_back(std::move(item.second));
    return writeArchiveFromSources(path, sorted);
}

bool updateArchiveFile(const std::filesystem::path& path, const std::vector<NamedEntry>& updates,
                       const std::vector<std::string>& removals) {
    return updateArchiveFromSources(path, inMemorySources(updates), removals);
}

}  // namespace mendly::vfile
