#pragma once
// Updating an archive where it is, so that changing a few members of a large
// archive writes about those members' bytes and a directory, not the archive.
//
// The directory must start at offset 8 (the game reads it there), and each
// record names its data's offset and size, so: the stored bytes of new
// entries are appended past the old end of the file; kept entries stay where
// they are, except those the new (possibly larger) directory would cover,
// which are appended as well; then the new header and directory are written
// over the start of the file. The bytes this leaves unreferenced (old copies
// of replaced and removed entries) are gaps the format allows.
//
// Crash safety, in this order: the rollback journal (archive_journal.h) with
// the old bytes of the region the new directory covers is flushed to the
// disk; the new stored bytes are appended and flushed; the new header and
// directory are written and flushed; the journal is removed. Until the
// directory is written the old directory still describes the file, and an
// interrupted update found by recoverInterruptedUpdate is undone, so after a
// crash at any moment the archive reads as the old one or the new one.
// Failures are undone at once (the old region written back, the file cut to
// its old size, the journal removed).
//
// Called from one thread at a time; not synchronised with readers of the
// same file (a reader still holding the old directory may read the new one's
// bytes where it used to find an entry).
#include <cstdint>
#include <filesystem>
#include <vector>

#include "patch/vfile/archive_update_options.h"
#include "patch/vfile/archive_writer.h"

namespace mendly::vfile {

// One entry of the result, in directory order.
struct PlannedEntry {
    EntrySource source;  // for a kept entry: its bytes at source.offset in the archive itself (source.file unused)
    bool kept = false;   // an entry of the archive as it is, whose bytes may stay where they are
    std::string key;     // the archive key of source.name when known, else empty (it is worked out here)
};

enum class InPlaceResult {
    Written,         // the archive holds the result (or already held it)
    Failed,          // it could not be written: the archive is the old one (or its journal undoes it next time)
    RewriteInstead,  // nothing was written: the archive is to be rewritten whole (see below)
};

// Makes the archive at `path` (valid, its journal already recovered) hold
// `entries` in the given order. RewriteInstead, with nothing written, when
// the result would leave more than options.compactionShare of the file
// unreferenced, when an offset would pass 0x7FFFFFFF, when the format cannot
// hold the entries (the whole-file writer then refuses them the same way),
// when the name is a link or the file has other names (hard links, which an
// in-place write would change too), or when the archive or its journal cannot
// be opened or written before anything in the archive changed. Fills
// `report` (method InPlace or Unchanged, bytes written).
[[nodiscard]] InPlaceResult updateArchiveInPlace(const std::filesystem::path& path,
                                                 const std::vector<PlannedEntry>& entries,
                                                 const ArchiveUpdateOptions& options, ArchiveUpdateReport& report);

}  // namespace mendly::vfile
