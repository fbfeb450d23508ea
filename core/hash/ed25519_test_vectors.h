#pragma once
// Test helpers shared by the Ed25519 tests: hex text, the published test
// vectors 1 to 3, and a signature made non-canonical by adding the group order.
#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "hash/signature.h"

namespace mendly::ed25519_testing {

inline std::string fromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

template <std::size_t N>
inline std::array<unsigned char, N> fixedFromHex(std::string_view hex) {
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
inline constexpr Rfc8032Vector kVectors[] = {
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
inline Signature withScalarPlusOrder(Signature signature) {
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

}  // namespace mendly::ed25519_testing
