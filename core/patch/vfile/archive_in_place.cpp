#include "patch/vfile/archive_in_place.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <system_error>

#include "patch/vfile/archive_directory.h"
#include "patch/vfile/archive_journal.h"
#include "patch/vfile/archive_name.h"
#include "patch/vfile/format.h"
#include "platform/file_update.h"

namespace mendly::vfile {
namespace {

// Where the result's bytes go in a file that is `oldSize` bytes long now.
struct Layout {
    std::vector<DirectoryRecord> records;  // data offsets filled in
    std::vector<std::size_t> appended;     // entries whose bytes are appended, in directory order
    std::uint64_t directoryEnd = 0;
    std::uint64_t fileSize = 0;            // once the update is complete
    std::uint64_t unreferenced = 0;        // bytes of that file no header, record or entry covers
};

enum class LayoutProblem { None, Unfit, Changed };

// Kept entries stay unless the new directory reaches into them; everything
// else goes past the old end (and past the new directory, should that reach
// beyond the old end), in directory order.
Layout layOut(const std::vector<PlannedEntry>& entries, std::vector<DirectoryRecord> records, std::uint64_t oldSize,
              LayoutProblem& problem) {
    Layout layout;
    layout.directoryEnd = directoryEnd(records);
    std::uint64_t end = std::max(oldSize, layout.directoryEnd);
    std::uint64_t referenced = 0;
    problem = LayoutProblem::None;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const EntrySource& source = entries[i].source;
        const bool staysPut = entries[i].kept && (source.storedSize == 0 || source.offset >= layout.directoryEnd);
        if (staysPut) {
            // The file is not what its directory said when it was read.
            if (source.offset + source.storedSize > oldSize) problem = LayoutProblem::Changed;
            records[i].dataOffset = static_cast<std::uint32_t>(source.offset);
        } else {
            records[i].dataOffset = static_cast<std::uint32_t>(end);
            end += source.storedSize;
            if (end > kMaxStoredValue) problem = LayoutProblem::Unfit;
            layout.appended.push_back(i);
        }
        if (problem != LayoutProblem::None) return layout;
        referenced += source.storedSize;
    }
    layout.records = std::move(records);
    layout.fileSize = end;
    layout.unreferenced = end - layout.directoryEnd - referenced;
    return layout;
}

// The first `count` bytes of the file at `path`, read without opening it for
// writing.
bool readRegion(const std::filesystem::path& path, std::uint64_t count, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(static_cast<std::size_t>(count), '\0');
    const auto size = static_cast<std::streamsize>(count);
    return in.read(bytes.data(), size) && in.gcount() == size;
}

// The directory records of `entries`, as directoryRecordsFor makes them.
std::optional<std::vector<DirectoryRecord>> plannedRecords(const std::vector<PlannedEntry>& entries) {
    if (entries.empty() || entries.size() > kMaxStoredValue) return std::nullopt;
    std::vector<DirectoryRecord> records;
    records.reserve(entries.size());
    std::uint64_t end = kHeaderSize;
    for (const auto& entry : entries) {
        const EntrySource& source = entry.source;
        std::string key = entry.key.empty() ? archiveKey(normalizeArchiveName(source.name)) : entry.key;
        if (!appendDirectoryRecord(records, std::move(key), source.storedSize, source.originalSize, end))
            return std::nullopt;
    }
    return records;
}

bool appendEntries(platform::FileUpdate& archive, const std::filesystem::path& path,
                   const std::vector<PlannedEntry>& entries, const Layout& layout) {
    for (const std::size_t i : layout.appended) {
        const EntrySource& source = entries[i].source;
        const std::filesystem::path& file = entries[i].kept ? path : source.file;
        const std::uint64_t at = layout.records[i].dataOffset;
        if (source.storedSize == 0) continue;
        if (file.empty()) {
            if (source.bytes.size() != source.storedSize || !archive.writeAt(at, source.bytes)) return false;
        } else if (!archive.copyFrom(file, source.offset, source.storedSize, at)) {
            return false;
        }
    }
    return true;
}

// A failure after the journal was written: the update is undone now, or,
// should that fail too, by the next recovery, which finds the journal.
InPlaceResult undo(platform::FileUpdate& archive, const std::filesystem::path& path, const ArchiveJournal& journal) {
    (void)archive.close();
    (void)rollBackArchive(path, journal);
    return InPlaceResult::Failed;
}

}  // namespace

InPlaceResult updateArchiveInPlace(const std::filesystem::path& path, const std::vector<PlannedEntry>& entries,
                                   const ArchiveUpdateOptions& options, ArchiveUpdateReport& report) {
    auto records = plannedRecords(entries);
    if (!records) return InPlaceResult::RewriteInstead;

    // Everything is decided before the archive is opened for writing: an
    // update that rewrites the archive instead, or finds nothing to change,
    // leaves it unopened.
    std::error_code ec;
    if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::regular ||
        std::filesystem::hard_link_count(path, ec) != 1 || ec)
        return InPlaceResult::RewriteInstead;
    const std::uint64_t oldSize = std::filesystem::file_size(path, ec);
    if (ec) return InPlaceResult::RewriteInstead;
    LayoutProblem problem = LayoutProblem::None;
    const Layout layout = layOut(entries, std::move(*records), oldSize, problem);
    if (problem == LayoutProblem::Changed) return InPlaceResult::Failed;
    if (problem == LayoutProblem::Unfit) return InPlaceResult::RewriteInstead;
    if (static_cast<double>(layout.unreferenced) > options.compactionShare * static_cast<double>(layout.fileSize))
        return InPlaceResult::RewriteInstead;

    ArchiveJournal journal;
    journal.oldSize = oldSize;
    journal.newSize = layout.fileSize;
    journal.newRegion = encodeDirectory(layout.records);
    if (!readRegion(path, std::min(layout.directoryEnd, oldSize), journal.oldRegion))
        return InPlaceResult::RewriteInstead;
    report = {};
    if (layout.fileSize == oldSize && journal.newRegion == journal.oldRegion) return InPlaceResult::Written;

    platform::FileUpdate archive;
    // The same file still (not a link or linked since, not resized).
    if (!archive.open(path) || archive.hasOtherNames() || archive.size() != oldSize)
        return InPlaceResult::RewriteInstead;
    report.method = UpdateMethod::InPlace;
    if (!writeJournal(path, journal, report.bytesWritten)) return InPlaceResult::RewriteInstead;
    const auto stopsAfter = [&](InPlaceStep step) { return options.continueAfter && !options.continueAfter(step); };
    if (stopsAfter(InPlaceStep::JournalWritten)) return InPlaceResult::Failed;

    // The appended bytes are flushed and the file closed before the directory
    // is written: a file system that reports failed delayed writes only at
    // close (network shares) then still fails the update while the old
    // directory is in place.
    bool ok = appendEntries(archive, path, entries, layout) && archive.flush();
    report.bytesWritten += archive.bytesWritten();
    if (!ok || !archive.close()) return undo(archive, path, journal);
    if (stopsAfter(InPlaceStep::DataAppended)) return InPlaceResult::Failed;

    ok = archive.open(path) && archive.writeAt(0, journal.newRegion) && archive.flush();
    report.bytesWritten += archive.bytesWritten();
    if (!ok || !archive.close()) return undo(archive, path, journal);
    if (stopsAfter(InPlaceStep::DirectoryWritten)) return InPlaceResult::Failed;

    // A journal left behind would undo the update at the next recovery.
    std::filesystem::remove(journalPathFor(path), ec);
    if (ec) return undo(archive, path, journal);
    platform::flushFolder(path.parent_path());
    return InPlaceResult::Written;
}

}  // namespace mendly::vfile
