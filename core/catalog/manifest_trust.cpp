#include "catalog/manifest_trust.h"

namespace mendly {

TrustedKeys manifestTrust(const ServerEntry& entry, bool builtIn) {
    TrustedKeys trust;
    if (builtIn) {
        trust = deploymentTrust();
    } else if (!entry.manifestKey.empty()) {
        trust = trustedKeysFromTexts({entry.manifestKey});
    }
    if (trust.required) trust.server = entry.server;
    return trust;
}

TrustedKeys manifestTrust(const ServerCatalog& catalog, std::size_t index) {
    if (index >= catalog.entries.size()) return {};
    return manifestTrust(catalog.entries[index], index < catalog.builtInCount);
}

}  // namespace mendly
