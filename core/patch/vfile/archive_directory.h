#pragma once
// The header and directory as the writers lay them out: one record per entry
// (its key, data offset and sizes), encoded in the order given. Shared by the
// whole-file writer and the in-place update, which differ only in where they
// put the stored bytes. Pure functions; any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "patch/vfile/archive_writer.h"

namespace mendly::vfile {

struct DirectoryRecord {
    std::string key;  // archiveKey of the normalised name: what is written
    std::uint32_t dataOffset = 0;
    std::uint32_t storedSize = 0;
    std::uint32_t originalSize = 0;
};

// The records of `entries` in their order, data offsets still 0, or nothing
// when the format cannot hold them: no entries, a name that normalises to
// ".", sizes of 2^31 or more, or a directory that would end past 0x7FFFFFFF.
std::optional<std::vector<DirectoryRecord>> directoryRecordsFor(const std::vector<EntrySource>& entries);
// One record of those: `key` is the archive key of the entry's normalised
// name; `end` is where the directory ends so far (kHeaderSize before the
// first record) and moves past this one. False when the format cannot hold it.
[[nodiscard]] bool appendDirectoryRecord(std::vector<DirectoryRecord>& records, std::string key,
                                         std::uint64_t storedSize, std::uint32_t originalSize, std::uint64_t& end);

// Where a directory of `records` ends: the header, then 20 + key length
// bytes per record.
std::uint64_t directoryEnd(const std::vector<DirectoryRecord>& records);

// Header and directory bytes, exactly directoryEnd(records) long.
std::string encodeDirectory(const std::vector<DirectoryRecord>& records);

}  // namespace mendly::vfile
