// The signature check itself on OpenSSL's Ed25519.
#include "hash/signature.h"

#include <memory>

#include <openssl/evp.h>

namespace mendly {

bool platformVerifySignature(std::string_view document, const Signature& signature, const PublicKey& key) {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()), &EVP_PKEY_free);
    if (!pkey) return false;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) return false;
    // Ed25519 is one-shot: the whole document in one call.
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                            reinterpret_cast<const unsigned char*>(document.data()), document.size()) == 1;
}

}  // namespace mendly
