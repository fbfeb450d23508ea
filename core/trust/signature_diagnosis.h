#pragma once
// Why a signature check failed, for the operator who has to fix it. A signed
// document names the key that signed it under "signedBy" (publish_patch and
// publish_launcher write it): with that claim, a refusal can say whether the
// document was changed after signing (the named key is trusted, yet the
// signature does not match) or was signed by a key this build does not trust.
// The claim decides nothing: what is accepted is still only what a trusted key
// signed. Pure functions; thread-safe.
#include <string>
#include <string_view>

#include "hash/signature.h"
#include "trust/trusted_keys.h"

namespace mendly {

enum class SignatureFault {
    Unsigned,       // no signature where one is required
    NotMatching,    // the key it names is trusted, but the signature is not over these bytes
    UntrustedKey,   // signed by a key that is not trusted (or it names none)
};

// The fault behind a `check` that is not Valid, for the JSON `document`.
SignatureFault diagnoseSignatureFailure(std::string_view document, SignatureCheck check, const TrustedKeys& trust);

// The top-level "signedBy" text of the JSON `document`, or empty.
std::string signedByClaim(std::string_view document);

}  // namespace mendly
