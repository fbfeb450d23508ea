#include "patch/interrupted_install.h"

#include "catalog/install_layout.h"
#include "patch/staging_area.h"

namespace mendly {

std::uint64_t interruptedInstallBytes(const std::filesystem::path& folder, std::string_view launchExecutable) {
    if (isInstalled(folder, launchExecutable)) return 0;
    return StagingArea(folder).measure().bytes;
}

bool isInterruptedInstall(const std::filesystem::path& folder, std::string_view launchExecutable) {
    return interruptedInstallBytes(folder, launchExecutable) > 0;
}

}  // namespace mendly
