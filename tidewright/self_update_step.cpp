#include "self_update_step.h"

#include "log/text.h"
#include "selfupdate/handover.h"
#include "selfupdate/self_update.h"
#include "trust/trusted_keys.h"

namespace mendly {

bool selfUpdateSkipped(const std::vector<std::u16string>& argv) {
    std::vector<std::string> arguments;
    arguments.reserve(argv.size());
    for (const auto& a : argv) arguments.push_back(toUtf8(a));
    return selfUpdateSkipReason(arguments) != SelfUpdateSkipReason::None;
}

bool launcherSelfUpdateFailedHandOver(const std::filesystem::path& programFolder,
                                      const std::function<void()>& beforeHandOver) {
    const SelfUpdateSource source{launcherUpdateBaseUrl(), deploymentTrust()};
    const auto staged = stageLauncherUpdate(programFolder, source, selfUpdateSkipReason());
    if (!staged) return false;
    bool replacing = false;
    (void)replaceWithKeelswap(programFolder, staged->stagingFolder, staged->replacements, [&] {
        replacing = true;
        beforeHandOver();
    });
    return replacing;
}

}  // namespace mendly
