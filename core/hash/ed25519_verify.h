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

}  // namespace mendly
