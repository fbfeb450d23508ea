#pragma once
// Who must have signed a catalog entry's patch manifest: the deployment's
// signing keys for a built-in entry, its own "manifestKey" for a custom entry
// that has one, nobody otherwise (unsigned manifests are accepted). A signed
// manifest must also name the entry's server.
#include <cstddef>

#include "catalog/server_catalog.h"
#include "trust/trusted_keys.h"

namespace mendly {

TrustedKeys manifestTrust(const ServerCatalog& catalog, std::size_t index);
TrustedKeys manifestTrust(const ServerEntry& entry, bool builtIn);

}  // namespace mendly
