#pragma once
// Constants of the game's virtual-file archive (".pak") and of the single-file
// payload that delivers one stored archive entry on its own ("pak_" files).
// Every integer in both formats is an unsigned 32-bit little-endian value.
#include <array>
#include <cstddef>
#include <cstdint>

namespace mendly::vfile {

// Archive header: magic, then the number of directory records.
inline constexpr std::uint32_t kArchiveMagic = 0x3D458CDEu;
inline constexpr std::size_t kHeaderSize = 8;

// Directory record: recordSize, dataOffset, storedSize, originalSize, nameLength,
// then nameLength name bytes. recordSize is 20 + nameLength.
inline constexpr std::size_t kRecordFixedSize = 20;

// Every integer stored in an archive is below 2^31.
inline constexpr std::uint32_t kMaxStoredValue = 0x7FFFFFFFu;
// The longest name whose record size (20 + length) still fits below 2^31.
inline constexpr std::uint32_t kMaxNameLength = kMaxStoredValue - kRecordFixedSize;

// Single-file payload: 12 magic bytes, originalSize, then the stored bytes.
inline constexpr std::array<unsigned char, 12> kPayloadMagic = {
    0x0A, 0xF7, 0x3D, 0x88, 0x84, 0x75, 0x84, 0x93, 0xBD, 0xEF, 0xFD, 0xAB};
inline constexpr std::size_t kPayloadHeaderSize = 16;

// Deflate cannot expand data by more than 1032:1 (a 258-byte match costs at
// least two bits), so a zlib stream of n bytes never inflates to more than
// 1032 * n bytes. Sizes claimed beyond that are rejected before any buffer is
// allocated for them.
inline constexpr std::uint64_t kMaxInflateRatio = 1032;

}  // namespace mendly::vfile
