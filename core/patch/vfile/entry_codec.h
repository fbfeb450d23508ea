#pragma once
// Turning contents into a stored entry and back. zlib one-shot calls only:
// compress2 at Z_DEFAULT_COMPRESSION and uncompress.
#include <optional>
#include <string>
#include <string_view>

#include "patch/vfile/stored_entry.h"

namespace mendly::vfile {

// Compressed form of `contents`. Empty contents store as nothing with
// originalSize 0. When the zlib stream happens to be exactly as long as the
// contents, the contents are stored raw instead (equal sizes always mean raw);
// a stream longer than the contents is kept. Nothing for more than 0x7FFFFFFF
// bytes or when zlib fails.
[[nodiscard]] std::optional<StoredEntry> compressEntry(std::string_view contents);

// The zlib stream (compress2, default level) of `contents`, whatever its
// length; for makers of single-file payloads, whose body is always a stream.
// Nothing for more than 0x7FFFFFFF bytes or when zlib fails.
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

}  // namespace mendly::vfile
