#pragma once
// The text publish_patch --preview prints for a release preview. Pure.
#include <cstdint>
#include <string>
#include <string_view>

#include "release_preview.h"

namespace mendly::publish {

// "512 B", "1.5 KiB", "20.0 MiB", "3.2 GiB": powers of 1024, one decimal
// above bytes.
std::string humanSize(std::uint64_t bytes);

// A heading naming `server` and `manifestPath` (the manifest compared with,
// or said to be absent), one line per added, changed or removed file
// ("<change> <kind> <served bytes> <path> [(note)]", sizes right-aligned,
// '?' for a removed file whose old size is not listed), then the counts and
// what an update and a fresh install fetch, then `behind` (the lines of
// previewDeltaCosts) as given. Every line ends with '\n'.
std::string formatReleasePreview(const ReleasePreview& preview, std::string_view server,
                                 std::string_view manifestPath, std::string_view behind = {});

}  // namespace mendly::publish
