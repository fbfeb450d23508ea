// The portable Ed25519 check and SHA-512 against the published test vectors.
#include "hash/ed25519_verify.h"

#include "hash/sha512.h"
#include "hash/signature.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace mendly {
namespace {

std::string fromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

template <std::size_t N>
std::array<unsigned char, N> fixedFromHex(std::string_view hex) {
    const std::string bytes = fromHex(hex);
    std::array<unsigned char, N> out{};
    std::copy_n(bytes.begin(), std::min(N, bytes.size()), out.begin());
    return out;
}

struct Rfc8032Vector {
    const char* secret;
    const char* publicKey;
    const char* message;
    const char* signature;
};

// Tests 1 to 3 of the Ed25519 test vectors (empty, one- and two-byte messages).
constexpr Rfc8032Vector kVectors[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46b"
     "d25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c"
     "387b2eaeb4302aeeb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc659"
     "4a7c15e9716ed28dc027beceea1ec40a"},
};

// S + L, as a little-endian number (S < L, so the sum fits in 256 bits).
Signature withScalarPlusOrder(Signature signature) {
    static constexpr unsigned char kOrder[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                                 0xa2, 0xde, 0xf9, 0xde, 0x14, 0, 0, 0, 0, 0, 0,
                                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
        const unsigned sum = signature[32 + i] + kOrder[i] + carry;
        signature[32 + i] = static_cast<unsigned char>(sum);
        carry = sum >> 8;
    }
    return signature;
}

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
