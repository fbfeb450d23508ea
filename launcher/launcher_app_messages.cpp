#include "launcher_app_messages.h"

#include <memory>

#include "bridge/page_refresh.h"
#include "checks/background_checks.h"
#include "task_progress.h"

namespace mendly {
namespace {

void postRefresh(PageHost& host) { (void)host.mailbox()->post(WM_REFRESH_PAGE, 0, 0); }

// The end of a patch run. Launching the game after a successful Play run
// belongs to the task code and is not done here yet.
void onPatchFinished(LauncherState& state, PageHost& host, bool ok, std::unique_ptr<std::u16string> error) {
    applyPatchFinished(state, ok, error.get());
    if (!ok && error && *error != u"Cancelled")
        host.showNotice({*error, u"Update failed", NoticeIcon::Warning});
    refreshStatuses(state, host);
    (void)host.mailbox()->post(WM_RELOAD_SERVER_LIST, 0, 0);
    postRefresh(host);
}

}  // namespace

void handleLauncherMessage(LauncherState* state, PageHost& host, const PostedMessage& message) {
    if (state == nullptr) {
        freeLauncherPayload(message);
        return;
    }
    switch (message.message) {
        case WM_PATCH_STATUS: {
            auto text = adoptTextPayload(message.lParam);
            if (text && applyPatchStatus(*state, std::move(*text))) postRefresh(host);
            break;
        }
        case WM_PATCH_PROGRESS:
            // Both values arrive sign-extended from signed 32-bit numbers.
            if (applyPatchProgress(*state, static_cast<std::int32_t>(message.wParam),
                                   static_cast<std::int32_t>(message.lParam)))
                postRefresh(host);
            break;
        case WM_PATCH_FINISHED:
            onPatchFinished(*state, host, message.wParam != 0, adoptTextPayload(message.lParam));
            break;
        case WM_REFRESH_PAGE:
            refreshPage(state, host);
            break;
        case WM_SELECTED_VERSION: {
            std::unique_ptr<SelectedVersionRecord> record(reinterpret_cast<SelectedVersionRecord*>(message.lParam));
            if (record && state->onSelectedVersion(record->entryIndex, std::move(record->version)))
                postRefresh(host);
            break;
        }
        case WM_RELOAD_SERVER_LIST:
            host.callPage("reloadServerList", nlohmann::json::array());
            refreshPage(state, host);
            break;
        case WM_SERVER_STATUS: {
            std::unique_ptr<ServerStatusRecord> record(reinterpret_cast<ServerStatusRecord*>(message.lParam));
            if (record && state->onServerStatus(record->generation, record->entryIndex, record->status))
                (void)host.mailbox()->post(WM_RELOAD_SERVER_LIST, 0, 0);
            break;
        }
        default:
            break;  // not one of ours
    }
}

void freeLauncherPayload(const PostedMessage& message) {
    if (message.lParam == 0) return;
    switch (message.message) {
        case WM_PATCH_STATUS:
        case WM_PATCH_FINISHED:
            adoptTextPayload(message.lParam);
            break;
        case WM_SELECTED_VERSION:
            delete reinterpret_cast<SelectedVersionRecord*>(message.lParam);
            break;
        case WM_SERVER_STATUS:
            delete reinterpret_cast<ServerStatusRecord*>(message.lParam);
            break;
        default:
            break;  // no payload (WM_PATCH_PROGRESS carries the total in lParam)
    }
}

}  // namespace mendly
