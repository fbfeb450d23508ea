// The parts of the digests that are the same on every platform; the hashing
// itself is in digest_posix.cpp (OpenSSL) and digest_win.cpp (BCrypt).
#include "hash/digest.h"

namespace mendly {

std::string toHexLower(const unsigned char* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(size * 2, '0');
    for (std::size_t i = 0; i < size; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

std::string md5Hex(std::string_view bytes) { return md5Hex(bytes.data(), bytes.size()); }
std::string sha256Hex(std::string_view bytes) { return sha256Hex(bytes.data(), bytes.size()); }

}  // namespace mendly
