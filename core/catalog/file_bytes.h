#pragma once
// Reading a whole file into memory without throwing (the platform's service
// under the name the catalog code uses).
#include <filesystem>
#include <string>

#include "platform/file.h"

namespace mendly {

using platform::FileRead;

// Read (possibly with no bytes) when every byte of `path` is in `bytes`.
inline FileRead readFileBytes(const std::filesystem::path& path, std::string& bytes) {
    return platform::readWholeFile(path, bytes);
}

}  // namespace mendly
