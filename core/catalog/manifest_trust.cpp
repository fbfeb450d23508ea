#include "catalog/manifest_trust.h"

#include <algorithm>

#include "log/text.h"

namespace mendly {
namespace {

// A custom entry for the same server on the same host as a built-in entry: a
// duplicate of it (or a hand-made twin). Its manifests are the built-in
// entry's, signed with the build's keys as they are now: after a rotation a
// copy takes the new key as the original does, and stops taking a key the
// build dropped, whatever key the copy was written with.
bool isTwinOfBuiltIn(const ServerCatalog& catalog, const ServerEntry& entry) {
    const auto builtIn = catalog.entries.begin() + static_cast<std::ptrdiff_t>(catalog.builtInCount);
    return std::any_of(catalog.entries.begin(), builtIn, [&](const ServerEntry& original) {
        return equalsIgnoreAsciiCase(original.server, entry.server) && original.patchBaseUrl == entry.patchBaseUrl;
    });
}

}  // namespace

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
    const ServerEntry& entry = catalog.entries[index];
    const bool builtIn = index < catalog.builtInCount;
    return manifestTrust(entry, builtIn || isTwinOfBuiltIn(catalog, entry));
}

}  // namespace mendly
