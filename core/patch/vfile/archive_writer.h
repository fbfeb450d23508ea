#pragma once
// Writing whole archives, streaming: the directory is planned from the
// entries' sizes, then each entry's stored bytes are copied in pieces from
// where they are (memory, another archive, a staged file), so writing an
// archive never holds more than one piece of it in memory.
//
// Called from one thread at a time; not synchronised with readers of the same
// file. The archive is written to path + ".part" and then moved over `path`,
// so a failed or interrupted write never leaves a damaged archive where an
// intact one was; on failure the ".part" file is removed again.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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
// replacing by key; a later update of the same key wins), sorted by key;
// entries kept are copied from the old file in pieces. When nothing would
// remain the archive file is deleted (an archive of no entries is not a valid
// one). False, with the file untouched, when anything cannot be read, written
// or deleted.
// When there is no readable, valid archive there: false without updates,
// otherwise a new archive holding just the updates in the given order (the
// removals are then moot).
[[nodiscard]] bool updateArchiveFromSources(const std::filesystem::path& path,
                                            const std::vector<EntrySource>& updates,
                                            const std::vector<std::string>& removals);

// The same for updates held in memory.
[[nodiscard]] bool updateArchiveFile(const std::filesystem::path& path,
                                     const std::vector<NamedEntry>& updates,
                                     const std::vector<std::string>& removals);

}  // namespace mendly::vfile
