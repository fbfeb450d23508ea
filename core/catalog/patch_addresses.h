#pragma once
// The patch host addresses derived from an entry. The server name is inserted
// unchanged, without escaping.
#include <string>

#include "catalog/server_entry.h"

namespace mendly {

// patchBaseUrl without trailing white space, then without trailing "/" and "\"
// (white space before the removed slashes stays).
std::u16string trimServerBase(const ServerEntry& entry);
// base + "/" + server + "/_version._"
std::u16string versionUrl(const ServerEntry& entry);
// base + "/" + server + ".manifest"
std::u16string manifestUrl(const ServerEntry& entry);
// base + "/" + server + "/": every patched file's address starts with it.
std::u16string filesBaseUrl(const ServerEntry& entry);

}  // namespace mendly
