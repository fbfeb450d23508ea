#pragma once
// Writing whole archives. Called from one thread at a time; not synchronised
// with readers of the same file.
#include <filesystem>
#include <string>
#include <vector>

#include "patch/vfile/stored_entry.h"

namespace mendly::vfile {

// Writes a complete archive holding `entries` in the given order, each under
// the archive key of its normalised name. False, with nothing written, for an
// empty list, a name that normalises to ".", stored bytes or sizes of 2^31 or
// more, or an archive whose offsets would pass 0x7FFFFFFF. Missing folders are
// created. The archive is written to path + ".part" and then moved over
// `path`, so a failed or interrupted write never leaves a damaged archive
// where an intact one was; false when any of that fails (the ".part" file is
// removed again).
[[nodiscard]] bool writeArchiveFile(const std::filesystem::path& path,
                                    const std::vector<NamedEntry>& entries);

// Applies `updates` and `removals` to the archive at `path` (Archive::applyChanges).
// When there is no readable, valid archive there: false without updates,
// otherwise a new archive holding just the updates in the given order (the
// removals are then moot).
[[nodiscard]] bool updateArchiveFile(const std::filesystem::path& path,
                                     const std::vector<NamedEntry>& updates,
                                     const std::vector<std::string>& removals);

}  // namespace mendly::vfile
