#pragma once
// The test signing key (tests/support/keys/test_signing_key.pem, whose public
// key is the one in tests/support/signed_deployment.json) and other keys made
// on the spot, for serving signed documents from a loopback host.
#include <string>
#include <string_view>

#include "signing_key.h"
#include "trust/trusted_keys.h"

namespace mendly::test {

const signing::SigningKey& testSigningKey();
// The PEM file of that key, for the operator tools.
std::string testSigningKeyFile();
// A key nobody trusts.
const signing::SigningKey& strangerSigningKey();

// The .sig file text for `document` (signature text and a line feed).
std::string signatureFileFor(const signing::SigningKey& key, std::string_view document);
// Trust in exactly `key`.
TrustedKeys trustOnly(const signing::SigningKey& key);

}  // namespace mendly::test
