#pragma once
// Which keys a signed document must be signed by, and the deployment's own.
//
// `required` with no keys trusts nothing: a key text that could not be read
// makes every signature fail rather than every document pass.
// Plain data; copied freely between threads.
#include <string>
#include <string_view>
#include <vector>

#include "hash/signature.h"

namespace mendly {

struct TrustedKeys {
    bool required = false;  // false: unsigned documents are accepted
    std::vector<PublicKey> keys;
    // Patch manifests: the catalog entry's server name, which a signed
    // manifest must carry as its own "server" (a genuine manifest of one
    // server is not one for another signed by the same key). Empty: unchecked.
    std::string server;
};

// Each text is one public key (base64 of its 32 bytes). Required when there
// is at least one text. A text that is not a key, or a key that is not
// usable (isUsablePublicKey: small order or not canonical, so that anyone
// could forge what it "signs"), is left out: with none left, nothing is
// trusted and nothing that needs a signature is taken.
TrustedKeys trustedKeysFromTexts(const std::vector<std::string>& texts);

// The "signingKeys" this program was built with (read once).
const TrustedKeys& deploymentTrust();

// Logs "WARNING: updates are not signed in this build" when the build has no
// signing keys, and "ERROR: A signing key of this build is not a usable
// public key: <text>" for each that cannot be used; nothing otherwise. Called
// once as a program starts.
void logUpdateSigningState();

}  // namespace mendly
