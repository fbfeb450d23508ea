#include "patch/vfile/archive.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <system_error>
#include <utility>

#include "patch/vfile/archive_journal.h"
#include "patch/vfile/archive_name.h"
#include "patch/vfile/archive_writer.h"
#include "patch/vfile/byte_order.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/format.h"

namespace mendly::vfile {
namespace {

// Size of a regular file, or nothing (missing, not a regular file, unreadable).
std::optional<std::uint64_t> regularFileSize(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || ec) return std::nullopt;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return std::nullopt;
    return static_cast<std::uint64_t>(size);
}

bool readExactly(std::istream& in, std::string& buffer, std::size_t count) {
    buffer.resize(count);
    if (count == 0) return true;
    in.read(buffer.data(), static_cast<std::streamsize>(count));
    return in.gcount() == static_cast<std::streamsize>(count);
}

// The stored bytes of `entry` from an open archive stream whose file is
// `fileSize` bytes long now (it may have shrunk since the directory was read).
bool readStoredInto(std::istream& in, std::uint64_t fileSize, const ArchiveEntry& entry, std::string& bytes) {
    if (static_cast<std::uint64_t>(entry.offset) + entry.storedSize > fileSize) return false;
    in.clear();
    in.seekg(static_cast<std::streamoff>(entry.offset));
    return in && readExactly(in, bytes, entry.storedSize);
}

std::optional<StoredEntry> readStoredFrom(std::istream& in, std::uint64_t fileSize, const ArchiveEntry& entry) {
    StoredEntry stored;
    stored.originalSize = entry.originalSize;
    if (!readStoredInto(in, fileSize, entry, stored.bytes)) return std::nullopt;
    return stored;
}

// A claimed size that no zlib stream of this length could reach.
bool impossibleSize(const ArchiveEntry& entry) {
    return entry.storedSize != entry.originalSize &&
           static_cast<std::uint64_t>(entry.originalSize) > kMaxInflateRatio * entry.storedSize;
}

// The directory record at `position` (advanced past it), or nothing when it is
// cut short, holds a value of 2^31 or more, or places data past the end of the
// file. `buffer` is scratch space reused from record to record.
std::optional<ArchiveEntry> readRecord(std::istream& in, std::uint64_t fileSize, std::uint64_t& position,
                                       std::string& buffer) {
    if (!readExactly(in, buffer, kRecordFixedSize)) return std::nullopt;
    position += kRecordFixedSize;
    // Offset 0 holds recordSize, which readers ignore.
    const std::uint32_t dataOffset = readLe32(buffer, 4);
    const std::uint32_t storedSize = readLe32(buffer, 8);
    const std::uint32_t originalSize = readLe32(buffer, 12);
    const std::uint32_t nameLength = readLe32(buffer, 16);
    if (nameLength > kMaxStoredValue || dataOffset > kMaxStoredValue || storedSize > kMaxStoredValue ||
        originalSize > kMaxStoredValue)
        return std::nullopt;
    if (nameLength > fileSize - position) return std::nullopt;
    if (!readExactly(in, buffer, nameLength)) return std::nullopt;
    position += nameLength;
    if (static_cast<std::uint64_t>(dataOffset) + storedSize > fileSize) return std::nullopt;

    std::erase(buffer, '\0');
    ArchiveEntry entry;
    entry.name = normalizeArchiveName(buffer);
    entry.key = archiveKey(entry.name);
    entry.offset = dataOffset;
    entry.storedSize = storedSize;
    entry.originalSize = originalSize;
    return entry;
}

// True when the stored bytes of every entry lie after the directory (which
// ends at `directoryEnd`) and no byte belongs to two entries. Entries with no
// stored bytes cover nothing and may point anywhere up to the end of the file.
// Each entry already ends within the file, so the stored sizes then add up to
// no more than the file's size: every later read of the whole archive costs
// at most the file's size, however many entries the directory lists.
bool dataLayoutIsSound(const std::vector<ArchiveEntry>& entries, std::uint64_t directoryEnd) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;  // offset, storedSize
    ranges.reserve(entries.size());
    for (const auto& entry : entries)
        if (entry.storedSize > 0) ranges.emplace_back(entry.offset, entry.storedSize);
    std::sort(ranges.begin(), ranges.end());
    std::uint64_t end = directoryEnd;
    for (const auto& [offset, size] : ranges) {
        if (offset < end) return false;
        end = static_cast<std::uint64_t>(offset) + size;
    }
    return true;
}

}  // namespace

std::optional<Archive> Archive::open(const std::filesystem::path& path) {
    const auto fileSize = regularFileSize(path);
    if (!fileSize || *fileSize < kHeaderSize) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;

    std::string buffer;
    if (!readExactly(in, buffer, kHeaderSize)) return std::nullopt;
    if (readLe32(buffer, 0) != kArchiveMagic) return std::nullopt;
    const std::uint32_t entryCount = readLe32(buffer, 4);
    // Every record takes at least 20 bytes, so the file bounds the count.
    if (entryCount > (*fileSize - kHeaderSize) / kRecordFixedSize) return std::nullopt;

    std::vector<ArchiveEntry> entries;
    entries.reserve(entryCount);
    std::uint64_t position = kHeaderSize;
    for (std::uint32_t i = 0; i < entryCount; ++i) {
        auto entry = readRecord(in, *fileSize, position, buffer);
        if (!entry) return std::nullopt;
        entries.push_back(std::move(*entry));
    }
    // `position` is now the end of the directory.
    if (!dataLayoutIsSound(entries, position)) return std::nullopt;
    return Archive(path, std::move(entries));
}

void Archive::index() {
    byKey_.resize(entries_.size());
    for (std::uint32_t i = 0; i < byKey_.size(); ++i) byKey_[i] = i;
    std::stable_sort(byKey_.begin(), byKey_.end(),
                     [this](std::uint32_t a, std::uint32_t b) { return entries_[a].key < entries_[b].key; });
    namesAreLowercase_ =
        std::all_of(entries_.begin(), entries_.end(), [](const ArchiveEntry& e) { return e.name == e.key; });
}

std::optional<ArchiveEntry> Archive::find(std::string_view name) const {
    const std::string key = archiveKey(normalizeArchiveName(name));
    const auto at = std::lower_bound(byKey_.begin(), byKey_.end(), key,
                                     [this](std::uint32_t i, const std::string& k) { return entries_[i].key < k; });
    if (at == byKey_.end() || entries_[*at].key != key) return std::nullopt;
    return entries_[*at];
}

std::optional<StoredEntry> Archive::readStored(const ArchiveEntry& entry) const {
    const auto fileSize = regularFileSize(path_);
    if (!fileSize) return std::nullopt;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return std::nullopt;
    return readStoredFrom(in, *fileSize, entry);
}

std::optional<StoredEntry> Archive::readStored(std::string_view name) const {
    const auto entry = find(name);
    if (!entry) return std::nullopt;
    return readStored(*entry);
}

std::optional<std::string> Archive::readEntry(const ArchiveEntry& entry) const {
    if (impossibleSize(entry)) return std::nullopt;  // refused before anything is read for it
    const auto stored = readStored(entry);
    if (!stored) return std::nullopt;
    return expandStoredEntry(stored->bytes, stored->originalSize);
}

std::optional<std::string_view> Archive::readEntryInto(const ArchiveEntry& entry, CodecBuffers& scratch) const {
    if (impossibleSize(entry)) return std::nullopt;
    const auto fileSize = regularFileSize(path_);
    if (!fileSize) return std::nullopt;
    std::ifstream in(path_, std::ios::binary);
    if (!in || !readStoredInto(in, *fileSize, entry, scratch.stored)) return std::nullopt;
    if (entry.storedSize == entry.originalSize) return std::string_view(scratch.stored);
    if (!inflateExactlyInto(scratch.stored, entry.originalSize, scratch.contents)) return std::nullopt;
    return std::string_view(scratch.contents);
}

std::optional<std::string> Archive::readEntry(std::string_view name) const {
    const auto entry = find(name);
    if (!entry) return std::nullopt;
    return readEntry(*entry);
}

std::vector<EntryListing> Archive::listEntries() const {
    std::vector<EntryListing> out;
    out.reserve(entries_.size());
    for (const auto& entry : entries_) out.push_back({entry.name, entry.originalSize, entry.storedSize});
    return out;
}

bool Archive::applyChanges(const std::vector<NamedEntry>& updates, const std::vector<std::string>& removals) {
    // The file must still be a valid archive (once an interrupted update of
    // it is undone): otherwise updateArchiveFile would replace it with just
    // the updates.
    if (!recoverInterruptedUpdate(path_) || !Archive::open(path_)) return false;
    // An archive of no entries is not one: the writer would delete the file.
    if (updates.empty()) {
        std::set<std::string> removed;
        for (const auto& name : removals) removed.insert(archiveKey(normalizeArchiveName(name)));
        if (std::all_of(entries_.begin(), entries_.end(), [&](const ArchiveEntry& e) { return removed.contains(e.key); }))
            return false;
    }
    if (!updateArchiveFile(path_, updates, removals)) return false;
    auto reread = Archive::open(path_);
    if (!reread) return false;
    entries_ = std::move(reread->entries_);
    index();
    return true;
}

}  // namespace mendly::vfile
