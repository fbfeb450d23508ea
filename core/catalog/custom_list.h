#pragma once
// customlist.json in the program folder: the user's custom server entries.
// These functions read the file from disk on every call rather than using a
// loaded catalog, so changes made by the other program meanwhile survive.
// Nothing is locked; the last writer wins.
#include <filesystem>
#include <optional>
#include <vector>

#include "catalog/server_entry.h"

namespace mendly {

// programFolder/customlist.json
std::filesystem::path customListPath(const std::filesystem::path& programFolder);
// Where appendCustomEntry keeps a copy of a customlist.json it cannot parse
// before replacing it: programFolder/customlist.json.bad
std::filesystem::path customListBackupPath(const std::filesystem::path& programFolder);

// Nothing when the file is missing, empty, unreadable or rejected. Logs nothing.
std::optional<std::vector<ServerEntry>> readCustomList(const std::filesystem::path& path);

// Rewrites customlist.json with `entry` after the entries already there. A file
// that exists but cannot be read or parsed is first copied to
// customListBackupPath (replacing an older copy); when that copy cannot be
// made nothing is written and the result is false.
[[nodiscard]] bool appendCustomEntry(const std::filesystem::path& programFolder, const ServerEntry& entry);
// Rewrites customlist.json without every entry named like `entry` (ASCII case
// ignored). False without writing when the file yields no list or no entry of
// that name is in it.
[[nodiscard]] bool removeCustomEntry(const std::filesystem::path& programFolder, const ServerEntry& entry);

}  // namespace mendly
