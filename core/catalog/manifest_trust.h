#pragma once
// Who must have signed a catalog entry's patch manifest: the deployment's
// signing keys for a built-in entry and for a custom entry of the same server
// on the same host (a duplicate of one: it follows the build's key list), its
// own "manifestKey" for any other custom entry that has one, nobody otherwise
// (unsigned manifests are accepted). A signed manifest must also name the
// entry's server. Prefer the catalog form: the entry form cannot see twins.
#include <cstddef>

#include "catalog/server_catalog.h"
#include "trust/trusted_keys.h"

namespace mendly {

TrustedKeys manifestTrust(const ServerCatalog& catalog, std::size_t index);
TrustedKeys manifestTrust(const ServerEntry& entry, bool builtIn);

}  // namespace mendly
