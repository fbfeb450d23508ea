#include "catalog/manifest_trust.h"

namespace mendly {

TrustedKeys manifestTrust(const ServerEntry& entry, bool builtIn) {
    if (builtIn) return deploymentTrust();
    if (entry.manifestKey.empty()) return {};
    return trustedKeysFromTexts({entry.manifestKey});
}

TrustedKeys manifestTrust(const ServerCatalog& catalog, std::size_t index) {
    if (index >= catalog.entries.size()) return {};
    return manifestTrust(catalog.entries[index], index < catalog.builtInCount);
}

}  // namespace mendly
