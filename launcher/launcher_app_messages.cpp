#include "launcher_app_messages.h"

#include <memory>

#include "bridge/page_refresh.h"
#include "checks/background_checks.h"
#include "launcher_update_check.h"
#include "message_box.h"
#include "selfupdate/update_notice.h"
#include "tasks/patch_tasks.h"
#include "tasks/pause_tasks.h"

namespace mendly {
namespace {

void postRefresh(PageHost& host) { (void)host.mailbox()->post(WM_REFRESH_PAGE, 0, 0); }

// The self-update's message boxes stand alone, as at start-up.
void showUpdateNoticeBox(const PostedMessage& message) {
    const auto text = adoptTextPayload(message.lParam);
    if (!text) return;
    const auto icon = static_cast<UpdateNoticeIcon>(message.wParam) == UpdateNoticeIcon::Error ? MessageBoxIcon::Error
                                                                                              : MessageBoxIcon::Warning;
    showMessageBox(nullptr, *text, kUpdateNoticeTitle, icon);
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
            if (text) (void)onPatchStatus(*state, host, std::move(*text));
            break;
        }
        case WM_PATCH_PROGRESS:
            // Both values arrive sign-extended from signed 32-bit numbers.
            onPatchProgress(*state, host, static_cast<std::int32_t>(message.wParam),
                            static_cast<std::int32_t>(message.lParam));
            break;
        case WM_PATCH_TRANSFER: {
            const auto transfer = adoptTransferPayload(message.lParam);
            // After a pause the last figures before it stay on show.
            if (transfer && state->busy && !state->pauseRequested) {
                state->transfer = *transfer;
                postRefresh(host);
            }
            break;
        }
        case WM_PATCH_FINISHED: {
            const auto error = adoptTextPayload(message.lParam);
            const FinishedTask finishing = noteFinishingTask(*state);
            const PatchOutcome outcome = patchFinishedOutcome(message.wParam);
            onPatchFinished(*state, host, outcome, error.get());
            settleFinishedTask(*state, host, finishing, outcome == PatchOutcome::Ok);
            handOverWhenIdle(*state);
            break;
        }
        case WM_REFRESH_PAGE:
            host.requestRefresh(state);
            break;
        case WM_SELECTED_VERSION: {
            std::unique_ptr<SelectedVersionRecord> record(reinterpret_cast<SelectedVersionRecord*>(message.lParam));
            if (!record) break;
            // Whether the host answered counts for its tile even when another
            // entry is selected by now.
            if (state->noteCheckOutcome(record->entryIndex, record->failure))
                (void)host.mailbox()->post(WM_RELOAD_SERVER_LIST, 0, 0);
            const bool sized = state->onSelectedSize(record->entryIndex, std::move(record->sizeText));
            if (state->onSelectedVersion(record->entryIndex, std::move(record->version), record->shown) || sized)
                postRefresh(host);
            break;
        }
        case WM_RELOAD_SERVER_LIST:
            host.callPage("reloadServerList", nlohmann::json::array());
            refreshPage(state, host);
            break;
        case WM_SERVER_STATUS: {
            std::unique_ptr<ServerStatusRecord> record(reinterpret_cast<ServerStatusRecord*>(message.lParam));
            if (!record || !state->onServerStatus(record->generation, record->entryIndex, record->status)) break;
            if (record->asked) (void)state->noteCheckOutcome(record->entryIndex, record->failure);
            (void)host.mailbox()->post(WM_RELOAD_SERVER_LIST, 0, 0);
            break;
        }
        case WM_LAUNCHER_UPDATE_NOTICE:
            showUpdateNoticeBox(message);
            break;
        case WM_LAUNCHER_UPDATE_STAGED:
            onLauncherUpdateStaged(*state,
                                   std::unique_ptr<StagedLauncherUpdate>(
                                       reinterpret_cast<StagedLauncherUpdate*>(message.lParam)));
            break;
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
        case WM_PATCH_TRANSFER:
            adoptTransferPayload(message.lParam);
            break;
        case WM_SELECTED_VERSION:
            delete reinterpret_cast<SelectedVersionRecord*>(message.lParam);
            break;
        case WM_SERVER_STATUS:
            delete reinterpret_cast<ServerStatusRecord*>(message.lParam);
            break;
        case WM_LAUNCHER_UPDATE_NOTICE:
        case WM_LAUNCHER_UPDATE_STAGED:
            freeLauncherUpdatePayload(message);
            break;
        default:
            break;  // no payload (WM_PATCH_PROGRESS carries the total in lParam)
    }
}

}  // namespace mendly
