// The signature check itself on the portable Ed25519 code: the system's
// cryptography provider offers no Ed25519.
#include "hash/signature.h"

#include "hash/ed25519_verify.h"

namespace mendly {

bool platformVerifySignature(std::string_view document, const Signature& signature, const PublicKey& key) {
    return ed25519Verify(document, signature, key);
}

}  // namespace mendly
