#pragma once
// The launcher's private window messages (the WM_APP range, WM_APP = 0x8000;
// WM_APP + 1 to 4 are the patch run's, patch_window.h) and their heap
// payloads. Workers (tasks, checks, the self-update) post them to the main
// window (EngineWindow::postMessage / its PostChannel); the UI thread
// dispatches them through handleLauncherMessage (launcher_app_messages.h).
//
// Ownership: a payload belongs to the receiver once the post succeeded; a
// sender whose post fails deletes it itself. Messages still queued when the
// window goes away are freed by freeLauncherPayload.
#include <cstdint>
#include <string>

#include "model/server_version.h"
#include "patch/patch_window.h"  // WM_PATCH_STATUS, WM_PATCH_PROGRESS, WM_PATCH_FINISHED, WM_PATCH_TRANSFER

namespace mendly {

inline constexpr unsigned WM_REFRESH_PAGE = 0x8005;        // wParam 0, lParam 0
inline constexpr unsigned WM_SELECTED_VERSION = 0x8006;    // lParam: new SelectedVersionRecord*
inline constexpr unsigned WM_RELOAD_SERVER_LIST = 0x8007;  // wParam 0, lParam 0
inline constexpr unsigned WM_SERVER_STATUS = 0x8008;       // lParam: new ServerStatusRecord*
// The self-update's (launcher_update_check.h).
inline constexpr unsigned WM_LAUNCHER_UPDATE_NOTICE = 0x8009;  // wParam UpdateNoticeIcon, lParam: new std::u16string*
inline constexpr unsigned WM_LAUNCHER_UPDATE_STAGED = 0x800A;  // wParam 0, lParam: new StagedLauncherUpdate*

// The server version fetched for one catalog entry.
struct SelectedVersionRecord {
    std::int32_t entryIndex = -1;
    std::u16string version;
    VersionShown shown = VersionShown::Known;
    std::u16string failure;  // the HTTP client's sentence when the fetch failed
    std::u16string sizeText{};  // nextRunSizeText; empty when unknown
};

// The result of one background status check of one catalog entry.
struct ServerStatusRecord {
    std::int32_t generation = 0;
    std::int32_t entryIndex = -1;
    std::int32_t status = 0;  // 0 undetermined, 1 up to date, 2 out of date
    bool asked = false;       // the host was asked (the entry is installed)
    std::u16string failure;   // the HTTP client's sentence when it did not answer
};

}  // namespace mendly
