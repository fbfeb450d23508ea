#include "patch/vfile/archive_directory.h"

#include "patch/vfile/archive_name.h"
#include "patch/vfile/byte_order.h"
#include "patch/vfile/format.h"

namespace mendly::vfile {

bool appendDirectoryRecord(std::vector<DirectoryRecord>& records, std::string key, std::uint64_t storedSize,
                           std::uint32_t originalSize, std::uint64_t& end) {
    if (key.empty() || key == "." || key.size() > kMaxNameLength) return false;
    if (storedSize > kMaxStoredValue || originalSize > kMaxStoredValue) return false;
    end += kRecordFixedSize + key.size();
    if (end > kMaxStoredValue) return false;
    records.push_back({std::move(key), 0, static_cast<std::uint32_t>(storedSize), originalSize});
    return true;
}

std::optional<std::vector<DirectoryRecord>> directoryRecordsFor(const std::vector<EntrySource>& entries) {
    if (entries.empty() || entries.size() > kMaxStoredValue) return std::nullopt;
    std::vector<DirectoryRecord> records;
    records.reserve(entries.size());
    std::uint64_t end = kHeaderSize;
    for (const auto& entry : entries)
        if (!appendDirectoryRecord(records, archiveKey(normalizeArchiveName(entry.name)), entry.storedSize,
                                   entry.originalSize, end))
            return std::nullopt;
    return records;
}

std::uint64_t directoryEnd(const std::vector<DirectoryRecord>& records) {
    std::uint64_t end = kHeaderSize;
    for (const auto& record : records) end += kRecordFixedSize + record.key.size();
    return end;
}

std::string encodeDirectory(const std::vector<DirectoryRecord>& records) {
    std::string out;
    out.reserve(static_cast<std::size_t>(directoryEnd(records)));
    appendLe32(out, kArchiveMagic);
    appendLe32(out, static_cast<std::uint32_t>(records.size()));
    for (const auto& record : records) {
        const auto keyLength = static_cast<std::uint32_t>(record.key.size());
        appendLe32(out, static_cast<std::uint32_t>(kRecordFixedSize) + keyLength);
        appendLe32(out, record.dataOffset);
        appendLe32(out, record.storedSize);
        appendLe32(out, record.originalSize);
        appendLe32(out, keyLength);
        out += record.key;
    }
    return out;
}

}  // namespace mendly::vfile
