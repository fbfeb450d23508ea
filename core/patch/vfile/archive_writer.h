#pragma once
// Writing archives, streaming: the directory is planned from the entries'
// sizes, then each entry's stored bytes are copied in pieces from where they
// are (memory, another archive, a staged file), so writing an archive never
// holds more than one piece of it in memory.
//
// Called from one thread at a time; not synchronised with readers of the same
// file. A whole archive is written to path + ".part", flushed to the disk and
// then moved over `path`, so a failed or interrupted write never leaves a
// damaged archive where an intact one was; on failure the ".part" file is
// removed again. Updates of an existing archive are mostly made in place
// instead (archive_in_place.h), with a journal beside the archive
// (path + ".journal") that undoes an interrupted one.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "patch/vfile/archive_update_options.h"
#include "patch/vfile/stored_entry.h"

namespace mendly::vfile {

// One entry to write and where its stored bytes are: `bytes` in memory when
// `file` is empty, else storedSize bytes of `file` starting at `offset`.
// `bytes` must outlive the write.
struct EntrySource {
    std::string name;  // any form; the archive key of the normalised name is written
    std::uint64_t storedSize = 0;
    std::uint32_t originalSize = 0;
    std::string_view bytes;
    std::filesystem::path file;
    std::uint64_t offset = 0;

    static EntrySource inMemory(std::string name, const StoredEntry& stored);
};

// Writes a complete archive holding `entries` in the given order. False, with
// nothing written, for an empty list, a name that normalises to ".", sizes of
// 2^31 or more, or an archive whose offsets would pass 0x7FFFFFFF; false when
// a source cannot be read in full or writing fails. Missing folders are created.
[[nodiscard]] bool writeArchiveFromSources(const std::filesystem::path& path,
                                           const std::vector<EntrySource>& entries);

// The same for entries held in memory.
[[nodiscard]] bool writeArchiveFile(const std::filesystem::path& path,
                                    const std::vector<NamedEntry>& entries);

// Applies `updates` and `removals` to the archive at `path`: its entries (the
// first of each key), minus the removals, plus the updates (inserted or
// replacing by key; a later update of the same key wins), sorted by key. When
// nothing would remain the archive file is deleted (an archive of no entries
// is not a valid one). False, with the archive as it was, when anything
// cannot be read, written or deleted.
// An interrupted update of this archive (its journal) is undone first; false
// when that cannot be done.
// The result reads the same however it is written (names, sizes and stored
// bytes of the entries in directory order); only where the bytes lie differs:
// - in place, as a rule: the stored bytes of the updates (and of kept entries
//   the grown directory would cover) are appended, the directory is
//   rewritten, kept entries stay where they are; the bytes written are about
//   the updates' stored size plus the directory, and a crash at any moment
//   leaves an archive that recoverInterruptedUpdate makes the old or the new;
// - whole, beside the archive and renamed over it (kept entries copied from
//   the old file in pieces), when more than a quarter of the result would be
//   unreferenced (kDefaultCompactionShare), when an offset would pass
//   0x7FFFFFFF, or when the name is a link or the file has other names.
// When there is no readable, valid archive there: false without updates,
// otherwise a new archive holding just the updates in the given order (the
// removals are then moot).
[[nodiscard]] bool updateArchiveFromSources(const std::filesystem::path& path,
                                            const std::vector<EntrySource>& updates,
                                            const std::vector<std::string>& removals);

// The same with the compaction share and the step hook of `options`
// (archive_update_options.h); `report` tells how the archive was written and
// how many bytes that took.
[[nodiscard]] bool updateArchiveFromSources(const std::filesystem::path& path,
                                            const std::vector<EntrySource>& updates,
                                            const std::vector<std::string>& removals,
                                            const ArchiveUpdateOptions& options, ArchiveUpdateReport& report);

// The same for updates held in memory.
[[nodiscard]] bool updateArchiveFile(const std::filesystem::path& path,
                                     const std::vector<NamedEntry>& updates,
                                     const std::vector<std::string>& removals);

}  // namespace mendly::vfile
