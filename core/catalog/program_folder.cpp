#include "catalog/program_folder.h"

#include <string>

#include "platform/process.h"

namespace mendly {

std::filesystem::path programFolderOf(const std::filesystem::path& executable) {
    const auto& text = executable.native();
    const auto cut = text.find_last_of(std::filesystem::path::string_type{'/', '\\'});
    if (cut == std::filesystem::path::string_type::npos) return executable;
    // A program directly in the root: the root itself, not an empty (relative) folder.
    if (cut == 0) return std::filesystem::path(text.substr(0, 1));
    return std::filesystem::path(text.substr(0, cut));
}

std::filesystem::path programFolder() {
    return programFolderOf(platform::executablePath());
}

}  // namespace mendly
