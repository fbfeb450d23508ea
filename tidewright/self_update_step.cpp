#include "self_update_step.h"

#include "platform/process.h"

namespace mendly {

bool selfUpdateSkipped(const std::vector<std::u16string>& argv) {
    for (std::size_t i = 1; i < argv.size(); ++i)
        if (argv[i] == u"--skip-self-update") return true;
    return platform::isDebuggerAttached();
}

bool launcherSelfUpdateStaged(const std::filesystem::path& programFolder) {
    // SELF-UPDATE CALL SITE: this becomes `return runLauncherSelfUpdate(programFolder);`
    // once core/selfupdate provides it. Until then there is nothing to check.
    (void)programFolder;
    return false;
}

}  // namespace mendly
