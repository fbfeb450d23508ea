#include "bridge/pending_actions.h"

#include <array>
#include <string_view>

namespace mendly {
namespace {

struct PendingAction {
    std::string_view name;
    bool answerWithoutState;  // what the page gets when the frame has no state
};

// With a state every one of them answers true, also when the operation would
// refuse to run; the outcome reaches the page through the page refresh.
constexpr std::array<PendingAction, 9> kPendingActions = {{
    {"play", true},
    {"install", false},
    {"resetIniDirectory", false},
    {"reinstall", true},
    {"configure", false},
    {"duplicateInstallation", false},
    {"openInstallFolder", false},
    {"deleteInstallation", false},
    {"cancelPatch", false},
}};

}  // namespace

std::optional<nlohmann::json> runPendingAction(LauncherState* state, const std::string& name) {
    for (const auto& action : kPendingActions) {
        if (action.name != name) continue;
        if (state == nullptr) return action.answerWithoutState;
        // The operation itself joins here.
        return true;
    }
    return std::nullopt;
}

}  // namespace mendly
