#pragma once
// The server catalog: the built-in entries compiled into each program followed
// by the custom entries of customlist.json in the program folder.
//
// Runs on the calling thread; nothing is locked (launcher and tidewright may
// both rewrite customlist.json; the last writer wins).
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "catalog/custom_list.h"
#include "catalog/json_file.h"
#include "catalog/program_folder.h"
#include "catalog/server_entry.h"
#include "catalog/server_list.h"

namespace mendly {

// A snapshot taken by loadServerCatalog; it never watches the file. Entries
// with equal names are all kept; lookups find the first.
struct ServerCatalog {
    std::vector<ServerEntry> entries;  // built-in first, then custom
    std::size_t builtInCount = 0;      // entries[i] is built-in when i < builtInCount
};

// The embedded server list document (may be empty in a test build).
std::string_view embeddedCatalogDocument();

// Built-in entries from `embedded` (defaults to the compiled-in document), then
// the custom entries of programFolder/customlist.json. Never fails: a source
// that is missing or rejected contributes no entries, silently.
ServerCatalog loadServerCatalog(const std::filesystem::path& programFolder);
ServerCatalog loadServerCatalog(const std::filesystem::path& programFolder, std::string_view embedded);

// Index of the first entry whose name equals `name` byte for byte, ignoring the
// case of the ASCII letters A-Z only.
std::optional<std::size_t> findServer(const ServerCatalog& catalog, std::string_view name);

}  // namespace mendly
