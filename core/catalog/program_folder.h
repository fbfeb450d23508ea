#pragma once
// The program folder: the folder of the running executable. Every shared file
// (launcher.log, customlist.json, clients/, .launcher_update) lies in it.
#include <filesystem>

namespace mendly {

// The folder of the running executable, without trailing separator; empty when
// the executable's path cannot be read. Paths of any length are supported.
std::filesystem::path programFolder();
// The text before the last "/" (or "\") of `executable`; without any separator
// the whole text.
std::filesystem::path programFolderOf(const std::filesystem::path& executable);

}  // namespace mendly
