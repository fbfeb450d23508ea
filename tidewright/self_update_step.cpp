#include "self_update_step.h"

#include "log/text.h"
#include "selfupdate/self_update.h"

namespace mendly {

bool selfUpdateSkipped(const std::vector<std::u16string>& argv) {
    std::vector<std::string> arguments;
    arguments.reserve(argv.size());
    for (const auto& a : argv) arguments.push_back(toUtf8(a));
    return selfUpdateSkipReason(arguments) != SelfUpdateSkipReason::None;
}

bool launcherSelfUpdateStaged(const std::filesystem::path& programFolder) {
    return runLauncherSelfUpdate(programFolder);
}

}  // namespace mendly
