#include "launcher_app.h"

#include <cstdlib>

#include "build_info.h"
#include "engine_runtime.h"
#include "engine_window.h"
#include "launcher_app_messages.h"
#include "log/log_file.h"
#include "log/text.h"
#include "message_box.h"
#include "page_archive.h"
#include "selfupdate/self_update.h"
#include "selfupdate/update_notice.h"

extern const unsigned char kLauncherPageArchive[];
extern const std::size_t kLauncherPageArchiveSize;

namespace mendly {
namespace {

void showUpdateNoticeBox(UpdateNoticeIcon icon, const std::u16string& text) {
    showMessageBox(nullptr, text, kUpdateNoticeTitle,
                   icon == UpdateNoticeIcon::Error ? MessageBoxIcon::Error : MessageBoxIcon::Warning);
}

void showStartupError(std::u16string_view text) {
    showMessageBox(nullptr, text, kLauncherCaption, MessageBoxIcon::Error);
}

// The catalog reload of start-up: a fresh snapshot with the selection kept in
// range and one status per entry.
void reloadCatalog(LauncherState& state) {
    state.catalog = loadServerCatalog(state.programFolder);
    state.builtInCount = state.catalog.builtInCount;
    const auto count = static_cast<std::int32_t>(state.catalog.entries.size());
    if (count == 0) {
        state.selected = -1;
    } else if (state.selected < 0 || state.selected >= count) {
        state.selected = 0;
    }
    state.entryStatuses.resize(state.catalog.entries.size(), 0);
    // The background status check of the reloaded catalog joins here with the
    // installation status checks; it does nothing before the window exists.
}

}  // namespace

std::string_view embeddedPageArchive() {
    return {reinterpret_cast<const char*>(kLauncherPageArchive), kLauncherPageArchiveSize};
}

bool initLauncherState(LauncherState& state) {
    state.programFolder = programFolder();
    if (!LogFile::open(state.programFolder)) {
        showMessageBox(nullptr, u"Could not create launcher.log in\n" + state.programFolder.u16string(),
                       kLauncherCaption, MessageBoxIcon::Warning);
    }
    LogFile::write(u"Kaltris Nexum Launcher starting");
    LogFile::write(u"Launcher version " + buildIdentifier());

    setUpdateNoticeSink(&showUpdateNoticeBox);
    if (runLauncherSelfUpdate(state.programFolder)) {
        // keelswap waits for this process to end before it replaces our files.
        LogFile::close();
        std::exit(0);
    }

    reloadCatalog(state);
    if (state.catalog.entries.empty()) {
        LogFile::write(u"ERROR: No servers configured");
        showStartupError(u"No servers configured in embedded catalog.");
        return false;
    }
    LogFile::writeServerCount(state.catalog.entries.size());
    // shortcuts.json is read here once shortcuts exist ("Loaded N Shortcuts").
    state.selected = 0;
    return true;
}

void dispatchLauncherMessage(LauncherState& state, EngineWindow& window, const PostedMessage& message) {
    switch (message.message) {
        case WM_PATCH_STATUS:
        case WM_PATCH_PROGRESS:
        case WM_PATCH_FINISHED:
        case WM_SELECTED_VERSION:
        case WM_SERVER_STATUS:
            // Not yet acted on: the task, status and version handlers take
            // these over. Until then the payload is only freed.
            freeLauncherPayload(message);
            break;
        case WM_REFRESH_PAGE:
            // Pushing the state into the page belongs to the script bridge.
            break;
        case WM_RELOAD_SERVER_LIST:
            window.callPage("reloadServerList", nlohmann::json::array());
            // ...followed by the same page refresh as WM_REFRESH_PAGE.
            break;
        default:
            break;  // not one of ours
    }
    (void)state;
}

int runLauncher(LauncherState& state, std::string_view pageArchive) {
    if (!initLauncherState(state)) {
        LogFile::close();
        return 1;
    }

    PageArchive archive;
    EngineWindow window(archive);
    const auto failureExit = [&] {
        LogFile::close();
        return 1;
    };

    std::u16string archiveError;
    if (!archive.open(pageArchive, archiveError)) {
        LogFile::write(u"ERROR: " + archiveError);
        showStartupError(u"Could not open embedded UI archive.");
        return failureExit();
    }
    // The page's native functions are dispatched here once the script bridge
    // is attached; until then every call is reported as not handled.
    window.setCallDispatcher([](const std::string&, const nlohmann::json&, const ScriptReply&) { return false; });
    if (!window.load(kLauncherPageUrl)) {
        showStartupError(std::u16string(u"Could not load UI:\n") + kLauncherPageUrl);
        return failureExit();
    }

    // The window icon: the client icon of the page archive when it has one.
    std::string icon;
    if (archive.read(u"client_icon.ico", icon)) (void)window.setIcon(icon);

    window.setMessageHandlers(
        [&state, &window](const PostedMessage& message) { dispatchLauncherMessage(state, window, message); },
        &freeLauncherPayload);
    window.setClosedHandler(&quitEngineLoop);
    window.show();

    state.window = &window;
    // The background status check starts here (it needs the window), then the
    // initial page state is pushed through the script bridge.
    runEngineLoop();

    state.window = nullptr;
    LogFile::close();
    return 0;
}

}  // namespace mendly
