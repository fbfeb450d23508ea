#pragma once
// Reading a whole file into memory without throwing: a folder, a file that
// vanishes or a read error is reported as Unreadable.
#include <filesystem>
#include <string>

namespace mendly {

enum class FileRead { Missing, Unreadable, Read };

// Read (possibly with no bytes) when every byte of `path` is in `bytes`.
FileRead readFileBytes(const std::filesystem::path& path, std::string& bytes);

}  // namespace mendly
