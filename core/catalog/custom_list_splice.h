#pragma once
// Adding an entry to customlist.json as text: the new server object is
// inserted before the closing bracket of the "servers" array, so that every
// byte of the player's own entries (their order, spacing, and members the
// programs do not know) stays exactly as it was. Pure function; any thread.
#include <optional>
#include <string>
#include <string_view>

#include "catalog/server_entry.h"

namespace mendly {

// `listText` with `entry` appended as the last server object, or nothing when
// `listText` is not a server list document (parseServerList refuses it) or
// the entry holds text that is not valid UTF-8. The inserted object follows
// the file's layout: on its own lines, indented like the other entries and
// with the file's line breaks (CR LF or LF), when the array is laid out over
// several lines; on one line otherwise. Its members are those
// serverEntryToJson writes. A byte-order mark and anything after the
// document stay too. The result is checked: parsed again, it yields the old
// entries followed by `entry`, or nothing is returned.
std::optional<std::string> spliceCustomEntry(std::string_view listText, const ServerEntry& entry);

}  // namespace mendly
