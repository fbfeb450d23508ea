#pragma once
// Where the game's program file is inside an installation folder.
#include <array>
#include <filesystem>
#include <string_view>

namespace mendly {

// Tried in this order after the entry's own launch executable.
inline constexpr std::array<std::string_view, 3> kFixedGameExecutables = {"Kaltris.exe", "kaltrisclient.exe",
                                                                          "KaltrisClient.exe"};

// The game executable of the installation in `folder`, or an empty path:
// folder/launchExecutable when it exists (joined as text: an absolute name
// stays below the folder), else the first regular file directly
// in the folder whose name equals launchExecutable ignoring letter case, else
// the first of the fixed names that exists. A missing folder, or one that
// cannot be read, finds nothing. Probes the file system; never throws.
std::filesystem::path findGameExecutable(const std::filesystem::path& folder, std::string_view launchExecutable);

// What the user is told was expected when nothing is found: folder + "/" +
// launchExecutable, or "(not configured)" for an empty launchExecutable.
std::u16string expectedGameExecutable(const std::filesystem::path& folder, std::string_view launchExecutable);

}  // namespace mendly
