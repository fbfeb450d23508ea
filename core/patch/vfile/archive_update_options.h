#pragma once
// How updateArchiveFromSources goes about an update, and what it did. The
// patch engine uses the defaults; tests and measurements choose the share at
// which an archive is compacted, stop an in-place update after any step as a
// crash would, and read how many bytes were written.
#include <cstdint>
#include <functional>

namespace mendly::vfile {

// An update that would leave more than this share of the archive's bytes
// unreferenced (old copies of replaced or removed entries, a directory's old
// tail) rewrites the archive whole instead, leaving no gaps. Measured on a
// 200 MB archive of 2000 members of 100 KB, 20 of them replaced per update,
// 200 updates (bytes written per update on average; the largest the file got
// against its compact size): a share of 0.10 wrote 18 MB (111%), 0.25 wrote
// 7.2 MB (133%), 0.50 wrote 3.2 MB (199%); whole rewrites write 200 MB each,
// an update in place alone 2.2 MB. A quarter keeps the waste to a third of
// the live bytes at a 28th of the writes.
inline constexpr double kDefaultCompactionShare = 0.25;

// The steps of an in-place update, in order.
enum class InPlaceStep {
    JournalWritten,    // the rollback journal is on the disk; the archive is untouched
    DataAppended,      // the new stored bytes are on the disk past the old end; the old directory still holds
    DirectoryWritten,  // the new header and directory are on the disk; the journal is still there
};

enum class UpdateMethod {
    Unchanged,  // the archive already held exactly the result: nothing written
    InPlace,    // new stored bytes appended, the directory rewritten where it is
    Rewritten,  // written whole beside the archive and renamed over it
    Deleted,    // nothing remained
};

struct ArchiveUpdateOptions {
    // 0 rewrites every archive that would have any gap, a negative share
    // every archive; 1 or more never compacts.
    double compactionShare = kDefaultCompactionShare;
    // Called after each step of an in-place update; false stops the update
    // right there with nothing undone, as if the program had been killed (the
    // update then reports failure). Empty: every step goes on.
    std::function<bool(InPlaceStep)> continueAfter;
};

struct ArchiveUpdateReport {
    UpdateMethod method = UpdateMethod::Unchanged;
    // Bytes written into the archive and its journal, or into its new copy.
    std::uint64_t bytesWritten = 0;
};

}  // namespace mendly::vfile
