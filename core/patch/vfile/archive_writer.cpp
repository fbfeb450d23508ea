#include "patch/vfile/archive_writer.h"

#include <fstream>
#include <system_error>

#include "patch/vfile/archive.h"
#include "patch/vfile/archive_name.h"
#include "patch/vfile/byte_order.h"
#include "patch/vfile/format.h"

namespace mendly::vfile {
namespace {

struct PlannedRecord {
    std::string key;
    std::uint32_t dataOffset = 0;
};

// Keys and data offsets for `entries`, or nothing when any rule of the format
// would be broken.
std::optional<std::vector<PlannedRecord>> planRecords(const std::vector<NamedEntry>& entries) {
    if (entries.empty() || entries.size() > kMaxStoredValue) return std::nullopt;
    std::vector<PlannedRecord> records;
    records.reserve(entries.size());
    std::uint64_t directoryEnd = kHeaderSize;
    for (const auto& entry : entries) {
        std::string key = archiveKey(normalizeArchiveName(entry.name));
        if (key.empty() || key == "." || key.size() > kMaxNameLength) return std::nullopt;
        if (entry.stored.bytes.size() > kMaxStoredValue || entry.stored.originalSize > kMaxStoredValue)
            return std::nullopt;
        directoryEnd += kRecordFixedSize + key.size();
        if (directoryEnd > kMaxStoredValue) return std::nullopt;
        records.push_back({std::move(key), 0});
    }
    std::uint64_t dataEnd = directoryEnd;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        records[i].dataOffset = static_cast<std::uint32_t>(dataEnd);
        dataEnd += entries[i].stored.bytes.size();
        if (dataEnd > kMaxStoredValue) return std::nullopt;
    }
    return records;
}

std::string encodeDirectory(const std::vector<NamedEntry>& entries, const std::vector<PlannedRecord>& records) {
    std::string out;
    appendLe32(out, kArchiveMagic);
    appendLe32(out, static_cast<std::uint32_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& key = records[i].key;
        const auto keyLength = static_cast<std::uint32_t>(key.size());
        appendLe32(out, static_cast<std::uint32_t>(kRecordFixedSize) + keyLength);
        appendLe32(out, records[i].dataOffset);
        appendLe32(out, static_cast<std::uint32_t>(entries[i].stored.bytes.size()));
        appendLe32(out, entries[i].stored.originalSize);
        appendLe32(out, keyLength);
        out += key;
    }
    return out;
}

// Writes the whole archive to `target`. `created` tells whether the file was
// opened (and so is ours to remove on failure).
bool writeAll(const std::filesystem::path& target, const std::string& directory,
              const std::vector<NamedEntry>& entries, bool& created) {
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    created = out.is_open();
    if (!out) return false;
    out.write(directory.data(), static_cast<std::streamsize>(directory.size()));
    for (const auto& entry : entries)
        out.write(entry.stored.bytes.data(), static_cast<std::streamsize>(entry.stored.bytes.size()));
    out.close();
    return !out.fail();
}

}  // namespace

bool writeArchiveFile(const std::filesystem::path& path, const std::vector<NamedEntry>& entries) {
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

bool updateArchiveFile(const std::filesystem::path& path, const std::vector<NamedEntry>& updates,
                       const std::vector<std::string>& removals) {
    if (auto archive = Archive::open(path)) return archive->applyChanges(updates, removals);
    if (updates.empty()) return false;
    return writeArchiveFile(path, updates);
}

}  // namespace mendly::vfile
