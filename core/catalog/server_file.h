#pragma once
// The small server file an operator hands to players so that they can add
// the server without typing it: one server object in the catalog's format
// ({"name": .., "server": .., "patchBaseUrl": .., "launchExecutable": ..,
// "manifestKey": ..}), or a server list document holding exactly one.
// Runs on the calling thread; only reads the file.
#include <filesystem>
#include <optional>
#include <string>

#include "catalog/server_entry.h"

namespace mendly {

// The entry the file describes, by the catalog's member rules. Its
// "installPath" is not taken: where a client goes is the player's choice,
// never the file's. Nothing with one sentence in `error` when the file is
// missing, unreadable or not such a document.
std::optional<ServerEntry> readServerFile(const std::filesystem::path& path, std::u16string& error);

}  // namespace mendly
