#include "bridge/task_actions.h"

#include <array>
#include <string_view>

#include "checks/background_checks.h"
#include "tasks/game_launch.h"
#include "tasks/installation_dialogs.h"
#include "tasks/patch_tasks.h"
#include "tasks/pause_tasks.h"

namespace mendly {
namespace {

struct TaskAction {
    std::string_view name;
    void (*run)(LauncherState&, PageHost&);
    bool answerWithoutState;
};

constexpr std::array<TaskAction, 13> kTaskActions = {{
    {"play", &playSelected, true},
    {"install", &installSelected, false},
    {"update", &updateSelected, false},
    {"retryChecks", &retryChecks, false},
    {"resetIniDirectory", &resetIniSelected, false},
    {"reinstall", &reinstallSelected, true},
    {"configure", &configureSelected, false},
    {"duplicateInstallation", &duplicateSelected, false},
    {"openInstallFolder", &openInstallFolder, false},
    {"deleteInstallation", &deleteSelected, false},
    {"cancelPatch", &cancelTask, false},
    {"pausePatch", &pauseTask, false},
    {"resumePatch", &resumeTask, false},
}};

}  // namespace

std::optional<nlohmann::json> runTaskAction(LauncherState* state, PageHost& host, const std::string& name) {
    for (const auto& action : kTaskActions) {
        if (action.name != name) continue;
        if (state == nullptr) return action.answerWithoutState;
        action.run(*state, host);
        return true;
    }
    return std::nullopt;
}

}  // namespace mendly
