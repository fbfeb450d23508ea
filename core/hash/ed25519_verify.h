#pragma once
// Ed25519 signature verification (pure Ed25519, no context, no prehash) in
// portable C++, for platforms whose cryptography provider has none.
//
// Verification only; everything it handles is public, so it does not try to
// run in constant time. Any bytes are safe to pass: a signature whose S is
// not below the group order, a key or R that is not the canonical encoding of
// a curve point, all fail. The check is [S]B == R + [k]A with the encodings
// compared (no cofactor), which is what the other verifiers used with this
// system accept. Pure function; thread-safe.
#include <array>
#include <string_view>

namespace mendly {

bool ed25519Verify(std::string_view message, const std::array<unsigned char, 64>& signature,
                   const std::array<unsigned char, 32>& publicKey);

// True when `publicKey` is the canonical encoding of a curve point outside
// the small subgroup ([8]A is not the identity). The identity and the other
// seven points of small order make signatures anyone can forge verify; a
// non-canonical encoding is read differently by different verifiers.
bool ed25519PublicKeyIsStrong(const std::array<unsigned char, 32>& publicKey);

// True when the S half of `signature` is below the group order (the only
// canonical form of S).
bool ed25519SignatureIsCanonical(const std::array<unsigned char, 64>& signature);

}  // namespace mendly
