#pragma once
// The client version text, _version._ in an installation folder and the same
// file published by the patch host.
#include <filesystem>
#include <string>
#include <string_view>

namespace mendly {

// Drops a leading UTF-8 byte-order mark, trailing NUL and white-space bytes,
// then leading white-space bytes; converts to UTF-16 and turns every inner CR,
// tab and LF into a space (nothing is collapsed).
std::u16string cleanVersionText(std::string_view bytes);

// The cleaned text of folder/_version._; empty when the file is missing,
// unreadable or empty. True when `out` is not empty afterwards.
bool readLocalVersion(const std::filesystem::path& folder, std::u16string& out);

}  // namespace mendly
