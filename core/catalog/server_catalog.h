#pragma once
// The server catalog: the built-in entries compiled into each program followed
// by the custom entries of customlist.json in the program folder.
//
// Runs on the calling thread; nothing is locked (launcher and tidewright may
// both rewrite customlist.json; the last writer wins).
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace mendly {

// Six UTF-8 strings.
struct ServerEntry {
    std::string name;              // identifier; compared ignoring ASCII case
    std::string desc;              // shown to the user; displayName falls back to name
    std::string server;            // patch server name, part of every patch address
    std::string patchBaseUrl;      // scheme, host and port of the patch host
    std::string launchExecutable;  // client executable inside the installation; may be empty
    std::string installPath;       // explicit installation folder; empty = clients/<name>

    bool operator==(const ServerEntry&) const = default;
};

struct ServerCatalog {
    std::vector<ServerEntry> entries;  // built-in first, then custom
    std::size_t builtInCount = 0;      // entries[i] is built-in when i < builtInCount
};

// The folder of the running executable, without trailing separator.
std::filesystem::path programFolder();
// The last "/" (or "\") splits executable path and folder; no separator: the whole text.
std::filesystem::path programFolderOf(const std::filesystem::path& executable);

// The embedded server list document (may be empty in a test build).
std::string_view embeddedCatalogDocument();

// Built-in entries from `embedded` (defaults to the compiled-in document), then
// the custom entries of programFolder/customlist.json. Never fails.
ServerCatalog loadServerCatalog(const std::filesystem::path& programFolder);
ServerCatalog loadServerCatalog(const std::filesystem::path& programFolder, std::string_view embedded);

// A whole server list document, or nothing when any rule is broken anywhere.
std::optional<std::vector<ServerEntry>> parseServerList(std::string_view text);
// Nothing when the file is missing, empty, unreadable or rejected. Logs nothing.
std::optional<std::vector<ServerEntry>> readCustomList(const std::filesystem::path& path);

std::filesystem::path customListPath(const std::filesystem::path& programFolder);
[[nodiscard]] bool appendCustomEntry(const std::filesystem::path& programFolder, const ServerEntry& entry);
[[nodiscard]] bool removeCustomEntry(const std::filesystem::path& programFolder, const ServerEntry& entry);
nlohmann::ordered_json serverEntryToJson(const ServerEntry& entry);
// Writes the document as customlist.json is written: 2-space indentation,
// UTF-8 unescaped, LF, no final line feed, keys in byte order.
[[nodiscard]] bool writeJsonFile(const std::filesystem::path& path, const nlohmann::ordered_json& document);

// Index of the first entry whose name equals `name` ignoring ASCII case.
std::optional<std::size_t> findServer(const ServerCatalog& catalog, std::string_view name);
// desc when not empty, else name.
const std::string& displayName(const ServerEntry& entry);

}  // namespace mendly
