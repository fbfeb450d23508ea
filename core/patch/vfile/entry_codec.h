#pragma once
// Turning contents into a stored entry and back, whole buffers at a time.
// The streams are the standard zlib format (RFC 1950, deflate_buffer.h), so
// any zlib reader inflates what is written here and the other way round.
// Thread-safe: each thread keeps its own compressor and decompressor.
#include <optional>
#include <string>
#include <string_view>

#include "patch/vfile/stored_entry.h"

namespace mendly::vfile {

// The compression level of every stream written here (libdeflate's scale,
// 1..12; the zlib build uses zlib's fastest level). Chosen by measurement: docs/performance.md.
inline constexpr int kCompressionLevel = 1;

// Stored form of `contents`. Empty contents store as nothing with
// originalSize 0. When the zlib stream would not be shorter than the
// contents, the contents are stored raw (equal sizes always mean raw); so
// are contents of 8 KiB or more whose sampled bytes are spread almost evenly
// (over 7.9 bits of entropy per byte), and contents of 256 KiB or more whose
// first 64 KiB do not shrink by 1/32: incompressible data is found out
// without compressing all of it.
// Nothing for more than 0x7FFFFFFF bytes or when the compressor fails.
[[nodiscard]] std::optional<StoredEntry> compressEntry(std::string_view contents);

// The zlib stream of `contents`, whatever its length; for makers of
// single-file payloads, whose body is always a stream. Nothing for more than
// 0x7FFFFFFF bytes or when the compressor fails.
[[nodiscard]] std::optional<std::string> zlibCompress(std::string_view contents);

// The contents of a stored entry: a copy when it is raw, otherwise the zlib
// stream inflated into exactly originalSize bytes. Nothing when the stream is
// empty, damaged, or yields any other length. A claimed size that no zlib
// stream of this length could reach is refused before allocating it.
[[nodiscard]] std::optional<std::string> expandStoredEntry(std::string_view storedBytes,
                                                           std::uint32_t originalSize);

// Inflates a zlib stream that must yield exactly `originalSize` bytes, whatever
// the stream's own length (no raw shortcut). Same refusals as above.
[[nodiscard]] std::optional<std::string> inflateExactly(std::string_view stream,
                                                        std::uint32_t originalSize);

// The same into a caller's buffer (resized to originalSize), so a worker can
// reuse one allocation for many entries. False on any refusal above.
[[nodiscard]] bool inflateExactlyInto(std::string_view stream, std::uint32_t originalSize, std::string& out);

// Compresses `contents` into `out` only when the stream is shorter than the
// contents: true with `out` holding the stream, false (raw storage wanted, or
// the compressor failed) with `out` unspecified. For callers that reuse `out`.
[[nodiscard]] bool compressShorterInto(std::string_view contents, std::string& out);

}  // namespace mendly::vfile
