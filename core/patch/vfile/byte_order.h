#pragma once
// Little-endian 32-bit integers in byte strings, independent of the host's order.
#include <cstdint>
#include <string>
#include <string_view>

namespace mendly::vfile {

inline void appendLe32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFFu));
}

// Reads four bytes at `at`; the caller has checked that they exist.
inline std::uint32_t readLe32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

}  // namespace mendly::vfile
