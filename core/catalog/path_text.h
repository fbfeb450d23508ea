#pragma once
// Crossing between the programs' UTF-16 path texts and filesystem paths, whose
// native form is UTF-8 bytes on Linux and UTF-16 on Windows.
#include <filesystem>
#include <string>
#include <string_view>

namespace mendly {

std::filesystem::path widePath(std::u16string_view text);
std::u16string pathText(const std::filesystem::path& path);

// folder + separator + name as plain text concatenation. Unlike operator/, a name
// that starts with a separator (or is absolute) never replaces the folder: it
// stays below it.
std::filesystem::path joinName(const std::filesystem::path& folder, std::u16string_view name);

}  // namespace mendly
