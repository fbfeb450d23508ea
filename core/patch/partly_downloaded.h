#pragma once
// How an interrupted install (interrupted_install.h) is named wherever a
// player sees it: the console's listing and the launcher's tile.
#include <cstdint>
#include <string>

namespace mendly {

// "Partly downloaded (N MB)": N the staged bytes in whole MB (1 MB = 1048576
// bytes), rounded, and at least 1 when anything is staged.
std::u16string partlyDownloadedText(std::uint64_t stagedBytes);

}  // namespace mendly
