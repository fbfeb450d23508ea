#pragma once
// mendly::vfile::Archive: the directory of one ".pak" file and the reads of its
// entries.
//
// An Archive holds no open file. open() reads the header and directory once and
// closes the file; every read opens the file anew, so one Archive may be read
// from several threads at once (it is read-only after open). The entry list is
// a snapshot: it follows the file only through this object's own
// applyChanges(), which is not synchronised with readers of the same file and
// is called from one thread at a time.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/vfile/entry_stream.h"
#include "patch/vfile/stored_entry.h"

namespace mendly::vfile {

struct ArchiveEntry {
    std::string name;  // normalizeArchiveName of the name bytes in the file (zero bytes dropped)
    std::string key;   // archiveKey(name)
    std::uint32_t offset = 0;  // of the stored bytes, from the start of the file
    std::uint32_t storedSize = 0;
    std::uint32_t originalSize = 0;
};

struct EntryListing {
    std::string name;
    std::uint32_t originalSize = 0;
    std::uint32_t storedSize = 0;
};

class Archive {
public:
    // The archive at `path`, or nothing when the file cannot be read or breaks
    // any rule of the format. Nothing in the file is trusted: every count, size
    // and offset is checked against the file's size before anything is
    // allocated for it, and no data bytes are read here. The stored bytes of
    // each entry must lie after the directory and be its own: an archive whose
    // entries share bytes, or reach into the header or directory, counts as
    // corrupt. So the stored sizes of an opened archive add up to at most its
    // file size, and reading every entry costs no more than reading the file.
    // Time O(n log n) and memory O(file size) for n directory records.
    [[nodiscard]] static std::optional<Archive> open(const std::filesystem::path& path);

    const std::filesystem::path& path() const { return path_; }
    const std::vector<ArchiveEntry>& entries() const { return entries_; }

    // The first entry (directory order) whose key equals the key of the
    // normalised `name`; duplicate keys are allowed and the first wins.
    // O(log n): the keys are indexed when the directory is read.
    [[nodiscard]] std::optional<ArchiveEntry> find(std::string_view name) const;

    // True when every entry's name is already its key (all lowercase). O(1).
    bool namesAreLowercase() const { return namesAreLowercase_; }

    // Contents of the named entry (raw copy or inflated), or nothing when it is
    // absent, cannot be read, or does not inflate to exactly its original size.
    [[nodiscard]] std::optional<std::string> readEntry(std::string_view name) const;
    [[nodiscard]] std::optional<std::string> readEntry(const ArchiveEntry& entry) const;
    // The same contents with the caller's buffers, reused from call to call:
    // the stored bytes are read into `scratch.stored`, and the contents are
    // those bytes (a raw entry) or inflated into `scratch.contents`. The view
    // lasts until the buffers change.
    [[nodiscard]] std::optional<std::string_view> readEntryInto(const ArchiveEntry& entry,
                                                                CodecBuffers& scratch) const;

    // The named entry's bytes exactly as stored, without inflating.
    [[nodiscard]] std::optional<StoredEntry> readStored(std::string_view name) const;
    [[nodiscard]] std::optional<StoredEntry> readStored(const ArchiveEntry& entry) const;

    // Name, original size and stored size of every entry, in directory order.
    std::vector<EntryListing> listEntries() const;

    // Rewrites the file with the current entries (the first of each key wins),
    // minus `removals`, plus `updates` (inserted or replacing by key; a later
    // update of the same key wins), sorted by key. False, with the file
    // untouched, when a current entry cannot be read or nothing would remain;
    // false when writing fails or the written file does not open again. An
    // interrupted in-place update of the file is undone first
    // (archive_journal.h). On success this object's entries are those of the
    // written file.
    [[nodiscard]] bool applyChanges(const std::vector<NamedEntry>& updates,
                                    const std::vector<std::string>& removals);

private:
    Archive(std::filesystem::path path, std::vector<ArchiveEntry> entries)
        : path_(std::move(path)), entries_(std::move(entries)) {
        index();
    }
    // Rebuilds byKey_ and namesAreLowercase_ from entries_.
    void index();

    std::filesystem::path path_;
    std::vector<ArchiveEntry> entries_;
    // Positions in entries_, sorted by key, then by position (so the first
    // entry of a duplicated key comes first).
    std::vector<std::uint32_t> byKey_;
    bool namesAreLowercase_ = true;
};

}  // namespace mendly::vfile
