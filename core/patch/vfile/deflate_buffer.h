#pragma once
// Whole-buffer zlib streams (RFC 1950), the compressor under entry_codec.
// Linux: deflate_buffer_libdeflate.cpp (libdeflate, the fastest). Windows:
// deflate_buffer_zlib.cpp (zlib, which MinGW-w64 ships). Both write and read
// the same format, so either side reads what the other wrote; the bytes of a
// compressed stream may differ between them.
// Thread-safe: each thread keeps its own compressor and decompressor.
#include <cstddef>
#include <string_view>

namespace mendly::vfile::deflate_buffer {

// False when this thread's compressor could not be made (out of memory).
[[nodiscard]] bool compressorAvailable();

// The longest stream that `size` bytes of contents can give.
[[nodiscard]] std::size_t compressBound(std::size_t size);

// Writes the stream of `contents` into `out` (room for `limit` bytes) at
// kCompressionLevel. Its length; 0 when it does not fit in `limit` or the
// compressor is missing.
[[nodiscard]] std::size_t compress(std::string_view contents, char* out, std::size_t limit);

// Inflates `stream` into `out`, which it must fill exactly: `size` bytes, no
// more and no fewer. Bytes after the end of the stream are ignored. False
// for a damaged stream or any other length.
[[nodiscard]] bool inflateExactly(std::string_view stream, char* out, std::size_t size);

}  // namespace mendly::vfile::deflate_buffer
