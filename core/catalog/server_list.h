#pragma once
// The server list document shared by the embedded catalog and customlist.json:
// {"servers": [ {server object}, ... ]}.
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "catalog/server_entry.h"

namespace mendly {

// A whole server list document, or nothing when any rule is broken anywhere
// (one bad entry rejects the document). A UTF-8 byte-order mark is accepted;
// comments are not; the text must be exactly one JSON value (white space may
// follow). Never throws.
std::optional<std::vector<ServerEntry>> parseServerList(std::string_view text);

// The six members as written to customlist.json; "installPath",
// "manifestKey" and "mirrors" only when set, so an entry without them is
// written exactly as before.
// nlohmann::json keeps its members in byte order of their names, which is the
// order the file is written in.
nlohmann::json serverEntryToJson(const ServerEntry& entry);

}  // namespace mendly
