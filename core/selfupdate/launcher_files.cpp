#include "selfupdate/launcher_files.h"

#include <string>

#include "log/text.h"

namespace mendly {

bool isUpdatableLauncherFile(std::string_view name) {
    std::string n(name);
    for (auto& c : n)
        if (c == '\\') c = '/';
    for (auto known : kUpdatableLauncherFiles)
        if (equalsIgnoreAsciiCase(n, known)) return true;
    return false;
}

std::filesystem::path keelswapPath(const std::filesystem::path& programFolder) {
    return programFolder / kKeelswapProgramName;
}

std::filesystem::path pendingKeelswapPath(const std::filesystem::path& programFolder) {
    return programFolder / kPendingKeelswapName;
}

std::filesystem::path launcherStagingFolder(const std::filesystem::path& programFolder) {
    return programFolder / kStagingFolderName;
}

}  // namespace mendly
