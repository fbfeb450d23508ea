#include "launcher_app_messages.h"

#include <memory>

namespace mendly {

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
