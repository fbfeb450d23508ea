#pragma once
// The version text the patch host publishes for an entry.
#include <string>

#include "catalog/server_entry.h"

namespace mendly {

// GETs versionUrl(entry) and returns its cleaned text; empty on any failure,
// which is logged as "ERROR: <url> — <reason>". Blocks for one HTTP request on
// the calling thread and cannot be cancelled.
std::u16string fetchRemoteVersion(const ServerEntry& entry);

}  // namespace mendly
