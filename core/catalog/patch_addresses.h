#pragma once
// The patch host addresses derived from an entry. The server name is inserted
// unchanged, without escaping.
#include <string>
#include <vector>

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

// One patch host's two addresses for an entry's server.
struct PatchHostAddresses {
    std::u16string manifestUrl;
    std::u16string filesBaseUrl;
    bool operator==(const PatchHostAddresses&) const = default;
};

// The entry's mirrors in catalog order, each trimmed like patchBaseUrl; a
// mirror that comes to the same base as the primary or as an earlier mirror
// is left out.
std::vector<PatchHostAddresses> mirrorAddresses(const ServerEntry& entry);

}  // namespace mendly
