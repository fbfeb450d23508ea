#pragma once
// The rollback journal of an in-place archive update: one small file beside
// the archive (path + ".journal") that holds what the update overwrites (the
// old bytes of the region the new header and directory cover) and the
// archive's old size. It is flushed to the disk before the archive is touched
// and removed once the new directory is on the disk, so a journal that is
// still there after a crash undoes the update: the old region is written
// back and the file cut to its old size, which leaves the old archive byte
// for byte (an in-place update never writes anywhere else below the old end).
//
// Layout (integers little-endian): "MNDJ", version 1, oldSize and newSize
// (64-bit), the lengths of the old and the new region (32-bit), both regions,
// then the CRC-32 of everything before it. A journal cut short or damaged
// fails its checksum and is ignored: the archive was not touched yet when it
// was being written.
//
// Called from one thread at a time per archive, like the writers.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace mendly::vfile {

struct ArchiveJournal {
    std::uint64_t oldSize = 0;  // bytes of the archive before the update
    std::uint64_t newSize = 0;  // bytes once the update is complete (never less than oldSize)
    std::string oldRegion;      // the first min(newRegion.size(), oldSize) bytes before the update
    std::string newRegion;      // the header and directory the update writes at offset 0
};

// archivePath + ".journal"
std::filesystem::path journalPathFor(const std::filesystem::path& archivePath);

std::string encodeJournal(const ArchiveJournal& journal);
// The journal in `bytes`, or nothing when they are not a whole, intact one.
std::optional<ArchiveJournal> decodeJournal(std::string_view bytes);

// Writes the journal of an update of `archivePath` and returns once it is on
// the disk, name included. False (with no journal left) when it cannot be
// written whole. `bytesWritten` grows by the journal's size.
[[nodiscard]] bool writeJournal(const std::filesystem::path& archivePath, const ArchiveJournal& journal,
                                std::uint64_t& bytesWritten);

// Undoes an update of `archivePath` whose journal says `journal`: writes the
// old region back, cuts the file to the old size, flushes, then removes the
// journal. False when the archive cannot be written or the journal not
// removed; the journal then stays for the next attempt (undoing is the same
// however often it is repeated).
[[nodiscard]] bool rollBackArchive(const std::filesystem::path& archivePath, const ArchiveJournal& journal);

// Brings the archive at `archivePath` back to a state that is whole after an
// update was interrupted: when a valid journal is there and the archive is
// in a state the journaled update can have left (its size between the old
// and the new one, every byte of the region either old or new), the update
// is undone and the archive reads as before it. A journal that is torn, not a
// regular file, or does not fit the archive (which something else replaced
// since) is removed and the archive left alone. True when no journal remains;
// false when one could not be applied or removed (the archive must not be
// updated then). No journal: true at once.
[[nodiscard]] bool recoverInterruptedUpdate(const std::filesystem::path& archivePath);

}  // namespace mendly::vfile
