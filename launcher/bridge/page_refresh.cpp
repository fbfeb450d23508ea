#include "bridge/page_refresh.h"

#include "log/text.h"
#include "model/bridge_json.h"
#include "model/server_version.h"

namespace mendly {
namespace {

nlohmann::json oneText(const std::u16string& text) { return nlohmann::json::array({toUtf8(text)}); }

}  // namespace

void refreshPage(const LauncherState* state, PageHost& host) {
    if (state == nullptr) return;
    host.callPage("setSelectedServerHeader", oneText(state->selectedServerHeader()));
    // The second value says what the text is, so that only a real version
    // is shown as one.
    host.callPage("setSelectedServerVersion",
                  nlohmann::json::array({toUtf8(state->selectedVersion),
                                         std::string(versionShownName(state->selectedVersionShown))}));
    host.callPage("setSelectedLanguage", nlohmann::json::array({state->readLanguage()}));
    host.callPage("setPlayButtonCaption", oneText(state->playButtonLabel()));
    pushFooterState(*state, host);
}

void pushFooterState(const LauncherState& state, PageHost& host) {
    host.callPage("updateLauncherFooter", nlohmann::json::array({buildFooterStateJson(state)}));
}

}  // namespace mendly
