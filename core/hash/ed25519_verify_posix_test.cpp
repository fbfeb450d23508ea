// The portable Ed25519 check and SHA-512 against OpenSSL on many keys and
// messages (on this platform verifySignature is OpenSSL's).
#include "hash/ed25519_verify.h"

#include "hash/base64.h"
#include "hash/sha512.h"
#include "hash/signature.h"
#include "hash/ed25519_test_vectors.h"
#include "support/test_signing.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

namespace mendly {
namespace {

using namespace ed25519_testing;

std::string randomBytes(std::mt19937& random, std::size_t size) {
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    return bytes;
}

// OpenSSL's signature of `message` by the key with this 32-byte secret.
Signature opensslSign(std::string_view secret, std::string_view message) {
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(secret.data()),
                                     secret.size()),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    Signature signature{};
    std::size_t length = signature.size();
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature.data(), &length, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
        ADD_FAILURE() << "OpenSSL could not sign";
    }
    return signature;
}

TEST(Ed25519VerifyAgainstOpenSsl, ThePublishedVectorsAreWhatOpenSslMakesAndAccepts) {
    for (const auto& v : kVectors) {
        const std::string message = fromHex(v.message);
        const auto key = fixedFromHex<32>(v.publicKey);
        const auto signature = fixedFromHex<64>(v.signature);
        EXPECT_EQ(opensslSign(fromHex(v.secret), message), signature) << v.publicKey;
        EXPECT_TRUE(verifySignature(message, signature, key)) << v.publicKey;
        EXPECT_TRUE(ed25519Verify(message, signature, key)) << v.publicKey;
    }
}

// Random keys and messages, each signature mutated in the ways an attacker
// or a damaged file would: both verifiers must give the same verdict.
TEST(Ed25519VerifyAgainstOpenSsl, AgreesOnRandomKeysMessagesAndDamage) {
    std::mt19937 random(20261209);
    int accepted = 0;
    for (int round = 0; round < 24; ++round) {
        const std::string secret = randomBytes(random, 32);
        const std::string message = randomBytes(random, random() % 300);
        const Signature good = opensslSign(secret, message);
        const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
            EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                         reinterpret_cast<const unsigned char*>(secret.data()), 32),
            &EVP_PKEY_free);
        PublicKey key{};
        std::size_t keyLength = key.size();
        ASSERT_EQ(EVP_PKEY_get_raw_public_key(pkey.get(), key.data(), &keyLength), 1);

        std::vector<std::tuple<std::string, Signature, PublicKey>> cases{{message, good, key}};
        Signature flipped = good;
        flipped[random() % 64] ^= static_cast<unsigned char>(1u << (random() % 8));
        cases.emplace_back(message, flipped, key);
        PublicKey flippedKey = key;
        flippedKey[random() % 32] ^= static_cast<unsigned char>(1u << (random() % 8));
        cases.emplace_back(message, good, flippedKey);
        cases.emplace_back(message + "\n", good, key);
        cases.emplace_back(message, withScalarPlusOrder(good), key);
        Signature randomSignature{};
        for (auto& b : randomSignature) b = static_cast<unsigned char>(random());
        cases.emplace_back(message, randomSignature, key);

        for (const auto& [m, s, k] : cases) {
            const bool portable = ed25519Verify(m, s, k);
            EXPECT_EQ(portable, verifySignature(m, s, k)) << "round " << round;
            EXPECT_EQ(portable, platformVerifySignature(m, s, k)) << "round " << round;
            accepted += portable ? 1 : 0;
        }
    }
    EXPECT_EQ(accepted, 24);  // exactly the undamaged signatures
}

// What OpenSSL alone takes and the portable check refuses (a key written the
// long way: y = p + 1 is the identity) is refused by verifySignature on both.
TEST(Ed25519VerifyAgainstOpenSsl, NonCanonicalKeysGetTheSameVerdictAsThePortableCheck) {
    Signature forged{};
    forged[0] = 1;  // R = the identity, S = 0
    const auto longIdentity = fixedFromHex<32>("eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f");
    EXPECT_FALSE(ed25519Verify("document", forged, longIdentity));
    EXPECT_FALSE(verifySignature("document", forged, longIdentity));
    const auto identity = fixedFromHex<32>("0100000000000000000000000000000000000000000000000000000000000000");
    EXPECT_FALSE(verifySignature("document", forged, identity));
}

TEST(Ed25519VerifyAgainstOpenSsl, WrongLengthsNeverReachTheCheck) {
    const auto& signer = test::testSigningKey();
    const std::string document = "{}";
    const std::string good = test::signatureFileFor(signer, document);
    const std::vector<PublicKey> keys{signer.publicKey()};
    ASSERT_EQ(checkSignature(document, good, keys), SignatureCheck::Valid);
    const auto raw = *parseSignatureText(good);
    const std::string bytes(raw.begin(), raw.end());
    EXPECT_EQ(checkSignature(document, base64Encode(bytes.substr(0, 63)), keys), SignatureCheck::NoSignature);
    EXPECT_EQ(checkSignature(document, base64Encode(bytes + "x"), keys), SignatureCheck::NoSignature);
}

TEST(Sha512AgainstOpenSsl, AgreesAcrossBlockBoundariesAndPieces) {
    Sha512 abc;
    abc.update("abc");
    const auto digest = abc.finish();
    EXPECT_EQ(std::string(digest.begin(), digest.end()),
              fromHex("ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3"
                      "feebbd454d4423643ce80e2a9ac94fa54ca49f"));

    std::mt19937 random(7);
    for (const std::size_t size : {0, 1, 111, 112, 113, 127, 128, 129, 255, 256, 1000, 70000}) {
        const std::string bytes = randomBytes(random, size);
        unsigned char expected[SHA512_DIGEST_LENGTH];
        SHA512(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), expected);
        Sha512 whole;
        whole.update(bytes);
        Sha512 pieces;  // fed in uneven pieces
        for (std::size_t at = 0; at < size;) {
            const std::size_t n = std::min<std::size_t>(size - at, 1 + random() % 200);
            pieces.update(bytes.data() + at, n);
            at += n;
        }
        const auto a = whole.finish();
        const auto b = pieces.finish();
        EXPECT_TRUE(std::equal(a.begin(), a.end(), expected)) << size;
        EXPECT_EQ(a, b) << size;
    }
}

}  // namespace
}  // namespace mendly
