#pragma once
// The single-file payload: one archive entry delivered on its own by the patch
// server (files whose name begins with "pak_"). Layout: 12 magic bytes, the
// entry's original size (32-bit little-endian), then the stored bytes, which
// are never empty; a payload is therefore at least 17 bytes long.
#include <optional>
#include <string>
#include <string_view>

#include "patch/vfile/stored_entry.h"

namespace mendly::vfile {

// The stored entry carried by `payload`, without inflating it. Nothing for 16
// bytes or fewer or a wrong magic.
[[nodiscard]] std::optional<StoredEntry> parseSingleFilePayload(std::string_view payload);

// The entry's contents: the body inflated into exactly originalSize bytes. The
// body is always treated as a zlib stream, even when its length equals
// originalSize. Nothing when parsing fails or inflating yields anything else.
[[nodiscard]] std::optional<std::string> decodeSingleFilePayload(std::string_view payload);

// The 16 bytes before a payload's body: the magic and originalSize.
[[nodiscard]] std::string singleFilePayloadHeader(std::uint32_t originalSize);

// The payload for `stored` (its bytes unchanged, raw or zlib). Nothing for
// empty stored bytes or an originalSize of 0.
[[nodiscard]] std::optional<std::string> buildSingleFilePayload(const StoredEntry& stored);

}  // namespace mendly::vfile
