#pragma once
// SHA-512 in portable C++, for the Ed25519 check on platforms whose
// cryptography provider has no Ed25519 (see ed25519_verify.h).
//
// A Sha512 is fed piece by piece and finished once; one owner, one thread at
// a time. Bytes in, 64 bytes of digest out; no failure modes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mendly {

class Sha512 {
public:
    using Digest = std::array<unsigned char, 64>;

    void update(const void* data, std::size_t size);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    // The digest of everything fed so far. The object is spent afterwards.
    Digest finish();

private:
    void compress(const unsigned char* block);

    std::array<std::uint64_t, 8> state_{0x6a09e667f3bcc908ull, 0xbb67ae8584caa73bull, 0x3c6ef372fe94f82bull,
                                        0xa54ff53a5f1d36f1ull, 0x510e527fade682d1ull, 0x9b05688c2b3e6c1full,
                                        0x1f83d9abfb41bd6bull, 0x5be0cd19137e2179ull};
    std::array<unsigned char, 128> block_{};
    std::size_t used_ = 0;         // bytes waiting in block_
    std::uint64_t totalBytes_ = 0;  // messages of 2^64 bytes or more are out of reach here
};

}  // namespace mendly
