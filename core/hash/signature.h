#pragma once
// Ed25519 signatures over documents, and their text forms.
//
// A public key is written as base64 of its raw 32 bytes; a signature file is
// base64 of the raw 64-byte signature over the document's exact bytes, with
// any white space around the text ignored. Pure functions over their
// arguments; thread-safe.
#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mendly {

inline constexpr std::size_t kPublicKeySize = 32;
inline constexpr std::size_t kSignatureSize = 64;

using PublicKey = std::array<unsigned char, kPublicKeySize>;
using Signature = std::array<unsigned char, kSignatureSize>;

// Surrounding white space is ignored; anything else that is not base64 of
// exactly the right number of bytes gives nothing.
std::optional<PublicKey> parsePublicKeyText(std::string_view text);
std::optional<Signature> parseSignatureText(std::string_view text);
std::string publicKeyText(const PublicKey& key);
std::string signatureText(const Signature& signature);

// True when `key` may be trusted at all: the canonical encoding of a point
// outside the small subgroup (see ed25519PublicKeyIsStrong).
bool isUsablePublicKey(const PublicKey& key);

// True when `signature` is a valid Ed25519 signature of `document` by `key`.
// Keys that are not usable and signatures whose S is not canonical are
// refused here, before the platform's check, so that every platform gives the
// same verdict. POSIX: OpenSSL (signature_posix.cpp). Windows: the portable
// check of ed25519_verify.h (signature_win.cpp).
bool verifySignature(std::string_view document, const Signature& signature, const PublicKey& key);

// The platform's check alone (no gate); for verifySignature and its tests.
bool platformVerifySignature(std::string_view document, const Signature& signature, const PublicKey& key);

enum class SignatureCheck {
    Valid,          // signed by one of the keys
    NoSignature,    // the signature text is missing or not a signature
    NoTrustedKey,   // a signature, but by none of the keys
};

// Checks `signatureFile` (the text of the .sig file; nothing when it could not
// be had) against each key in turn.
SignatureCheck checkSignature(std::string_view document, const std::optional<std::string>& signatureFile,
                              std::span<const PublicKey> keys);

}  // namespace mendly
