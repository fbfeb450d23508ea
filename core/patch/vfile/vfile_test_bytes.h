#pragma once
// Test helpers: archive bytes assembled field by field, independent of the
// writer, so that tests compare the writer and feed the reader with files
// whose every byte the test itself decided.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace mendly::vfile::test {

inline std::string le32(std::uint32_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
}

inline std::string bytes(std::initializer_list<unsigned> values) {
    std::string out;
    for (unsigned v : values) out.push_back(static_cast<char>(v));
    return out;
}

inline const std::string kMagicBytes = bytes({0xDE, 0x8C, 0x45, 0x3D});

// zlib stream of "hello" as compress2 at the default level produces it.
inline const std::string kHelloZlib =
    bytes({0x78, 0x9C, 0xCB, 0x48, 0xCD, 0xC9, 0xC9, 0x07, 0x00, 0x06, 0x2C, 0x02, 0x15});

struct RawRecord {
    std::uint32_t recordSize;
    std::uint32_t dataOffset;
    std::uint32_t storedSize;
    std::uint32_t originalSize;
    std::uint32_t nameLength;
    std::string name;
};

inline std::string record(const RawRecord& r) {
    return le32(r.recordSize) + le32(r.dataOffset) + le32(r.storedSize) + le32(r.originalSize) +
           le32(r.nameLength) + r.name;
}

// A well-formed record for `name` (recordSize and nameLength from the name).
inline std::string record(std::string_view name, std::uint32_t dataOffset, std::uint32_t storedSize,
                          std::uint32_t originalSize) {
    const auto n = static_cast<std::uint32_t>(name.size());
    return record({20 + n, dataOffset, storedSize, originalSize, n, std::string(name)});
}

inline std::string header(std::uint32_t entryCount) { return kMagicBytes + le32(entryCount); }

// Bytes no compressor shortens (xorshift64).
inline std::string noise(std::size_t size, std::uint64_t seed) {
    std::string out(size, '\0');
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < size; i += 8) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::memcpy(out.data() + i, &x, std::min<std::size_t>(8, size - i));
    }
    return out;
}

}  // namespace mendly::vfile::test
