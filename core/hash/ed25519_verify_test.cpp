// The portable Ed25519 check and SHA-512 against the published test vectors.
#include "hash/ed25519_verify.h"

#include "hash/sha512.h"
#include "hash/signature.h"
#include "hash/ed25519_test_vectors.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace mendly {
namespace {

using namespace ed25519_testing;

TEST(Ed25519Verify, AcceptsThePublishedVectorsAndNothingNearThem) {
    for (const auto& v : kVectors) {
        const std::string message = fromHex(v.message);
        const auto key = fixedFromHex<32>(v.publicKey);
        const auto signature = fixedFromHex<64>(v.signature);
        EXPECT_TRUE(ed25519Verify(message, signature, key)) << v.publicKey;

        EXPECT_FALSE(ed25519Verify(message + "x", signature, key));
        EXPECT_FALSE(ed25519Verify(message, withScalarPlusOrder(signature), key));
        auto otherKey = key;
        otherKey[0] ^= 0x01;
        EXPECT_FALSE(ed25519Verify(message, signature, otherKey));
    }
}

TEST(Ed25519Verify, RefusesKeysThatAreNotCanonicalCurvePoints) {
    const auto& v = kVectors[0];
    const auto signature = fixedFromHex<64>(v.signature);
    // y = p (the encoding of 0 written the long way), y = 2^255 - 1, and a y
    // with no x on the curve (y = 2 has none), with either sign bit.
    const PublicKey refused[] = {
        fixedFromHex<32>("edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
        fixedFromHex<32>("ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
        fixedFromHex<32>("0200000000000000000000000000000000000000000000000000000000000000"),
        fixedFromHex<32>("0200000000000000000000000000000000000000000000000000000000000080"),
        // y = 1 is a point only with x = 0, whose sign bit must be clear.
        fixedFromHex<32>("0100000000000000000000000000000000000000000000000000000000000080"),
    };
    for (const auto& key : refused) EXPECT_FALSE(ed25519Verify("", signature, key));
}

// Keys of small order: the identity (y = 1), the point of order 2 (y = -1)
// and the two of order 4 (y = 0), and the identity written the long way
// (y = p + 1). With A the identity, R the identity and S = 0 "sign" every
// message: [0]B = R + [k]A whatever k is.
const PublicKey kWeakKeys[] = {
    fixedFromHex<32>("0100000000000000000000000000000000000000000000000000000000000000"),
    fixedFromHex<32>("ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
    fixedFromHex<32>("0000000000000000000000000000000000000000000000000000000000000000"),
    fixedFromHex<32>("0000000000000000000000000000000000000000000000000000000000000080"),
    fixedFromHex<32>("eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
};

TEST(Ed25519Verify, WeakKeysAreRefusedSoNoForgedSignatureVerifies) {
    Signature forged{};
    forged[0] = 1;  // R = the identity, S = 0
    const auto identity = kWeakKeys[0];
    ASSERT_TRUE(ed25519Verify("any document at all", forged, identity));  // the check alone is fooled
    for (const auto& key : kWeakKeys) {
        EXPECT_FALSE(isUsablePublicKey(key));
        EXPECT_FALSE(verifySignature("any document at all", forged, key));
    }
    for (const auto& v : kVectors) {
        const auto key = fixedFromHex<32>(v.publicKey);
        EXPECT_TRUE(isUsablePublicKey(key)) << v.publicKey;
        EXPECT_TRUE(verifySignature(fromHex(v.message), fixedFromHex<64>(v.signature), key)) << v.publicKey;
        EXPECT_FALSE(verifySignature(fromHex(v.message), withScalarPlusOrder(fixedFromHex<64>(v.signature)), key));
    }
}

TEST(Sha512, KnownAnswersFromTheStandard) {
    struct Case {
        std::string_view message;
        const char* digest;
    } cases[] = {
        {"abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce8"
         "0e2a9ac94fa54ca49f"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd2654"
         "5e96e55b874be909"},
        {"",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81"
         "a538327af927da3e"},
    };
    for (const auto& c : cases) {
        Sha512 hash;
        hash.update(c.message);
        const auto digest = hash.finish();
        EXPECT_EQ(std::string(digest.begin(), digest.end()), fromHex(c.digest)) << c.message;
    }
}

}  // namespace
}  // namespace mendly
