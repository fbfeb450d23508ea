#include "launcher_app.h"

#include <cstdlib>
#include <system_error>

#include "bridge/engine_page_host.h"
#include "bridge/page_refresh.h"
#include "bridge/script_bridge.h"
#include "build_info.h"
#include "catalog/entry_confinement.h"
#include "catalog/server_catalog.h"
#include "checks/background_checks.h"
#include "engine_runtime.h"
#include "engine_window.h"
#include "gio_shell_opener.h"
#include "launcher_entry_progress.h"
#include "launcher_app_messages.h"
#include "launcher_update_check.h"
#include "log/log_file.h"
#include "log/text.h"
#include "message_box.h"
#include "model/bridge_json.h"
#include "model/shortcuts.h"
#include "page_archive.h"
#include "window_icon.h"
#include "patch/cancel_flag.h"
#include "tasks/patch_worker.h"
#include "tasks/pause_tasks.h"
#include "selfupdate/self_update.h"
#include "selfupdate/update_notice.h"
#include "trust/trusted_keys.h"

extern const unsigned char kLauncherPageArchive[];
extern const std::size_t kLauncherPageArchiveSize;

namespace mendly {
namespace {

// The self-update's boxes while no window is up (the start-up thread).
void showUpdateNoticeBox(UpdateNoticeIcon icon, const std::u16string& text) {
    showMessageBox(nullptr, text, kUpdateNoticeTitle,
                   icon == UpdateNoticeIcon::Error ? MessageBoxIcon::Error : MessageBoxIcon::Warning);
}

void showStartupError(std::u16string_view text) {
    showMessageBox(nullptr, text, kLauncherCaption, MessageBoxIcon::Error);
}

bool openPageArchive(PageArchive& archive, std::string_view pageArchive) {
    std::u16string archiveError;
    if (archive.open(pageArchive, archiveError)) return true;
    LogFile::write(u"ERROR: " + archiveError);
    showStartupError(u"Could not open embedded UI archive.");
    return false;
}

bool loadPage(EngineWindow& window, const LauncherState& state) {
    window.provideStartupValue("launcherStartup", {{"serverListHtml", buildServerListHtml(state)}});
    if (window.load(kLauncherPageUrl)) return true;
    showStartupError(std::u16string(u"Could not load UI:\n") + kLauncherPageUrl);
    return false;
}

// The window's icons, its messages and closing, and the test hooks.
void wireWindow(EngineWindow& window, LauncherState& state, EnginePageHost& host, const LauncherTestHooks& testHooks) {
    // The window icon at every size, before the window is first shown.
    (void)applyWindowIcons(window.nativeWindow());

    window.setMessageHandlers(
        [&state, &host](const PostedMessage& message) { handleLauncherMessage(&state, host, message); },
        &freeLauncherPayload);
    window.setClosedHandler(&quitEngineLoop);
    if (testHooks.active()) {
        bool started = false;
        window.setLoadFinishedHandler([&window, &testHooks, started]() mutable {
            if (started) return;
            started = true;
            runTestHooks(window, testHooks);
        });
    }
    watchStartupFrame(window, testHooks);
}

// What runs once the window is up.
void startBackgroundWork(LauncherState& state, EnginePageHost& host) {
    // The self-update check runs beside the window; a staged update is handed
    // over once no task runs, and then the main loop ends.
    try {
        startLauncherUpdateCheck(host.mailbox(), state.programFolder,
                                 SelfUpdateSource{launcherUpdateBaseUrl(), deploymentTrust()}, selfUpdateSkipReason());
    } catch (const std::system_error&) {
        LogFile::write(u"ERROR: Could not start the launcher update check");
    }
    // The status check needs the window to report to; then the first push of
    // the state into the page.
    refreshStatuses(state, host);
    refreshPage(&state, host);
    continuePausedDownload(state, host);
}

// The window is gone: a run still going is cancelled (it keeps what it
// staged for the next run) and the task bar shows no progress any more.
void closeDown(LauncherState& state, EnginePageHost& host) {
    if (state.busy) {
        requestPatchCancel();
        LogFile::write(u"Patch cancelled: the window was closed");
        // As a pause: the next start continues the download.
        recordPauseOnClose(state);
    }
    host.taskbar().off();
    // Late posts of the workers now fail and they free their payloads.
    state.window = nullptr;
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
    logUpdateSigningState();


    // No window yet: the first status check starts once it is shown.
    state.applyCatalog(loadUsableCatalog(state.programFolder));
    if (state.catalog.entries.empty()) {
        // No window will open, so nothing waits on the check here; a new
        // build may still bring the servers.
        setUpdateNoticeSink(&showUpdateNoticeBox);
        if (runLauncherSelfUpdate(state.programFolder)) {
            LogFile::close();
            std::exit(0);
        }
        LogFile::write(u"ERROR: No servers configured");
        showStartupError(u"No servers configured in embedded catalog.");
        return false;
    }
    LogFile::writeServerCount(state.catalog.entries.size());
    state.settings = loadLauncherSettings(state.programFolder);
    state.shortcuts = loadShortcuts(state.programFolder);
    if (!state.shortcuts.empty())
        LogFile::write(u"Loaded " + toDecimal(static_cast<long long>(state.shortcuts.size())) + u" Shortcuts");
    state.selected = 0;
    return true;
}

int runLauncher(LauncherState& state, std::string_view pageArchive, const LauncherTestHooks& testHooks) {
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

    if (!openPageArchive(archive, pageArchive)) return failureExit();
    GioShellOpener shell;
    // The launcher's own desktop entry: the one the task bar shows it under.
    LauncherEntryProgress taskbar{"application://" + std::string(kLauncherDesktopId) + ".desktop"};
    EnginePageHost host(window, shell, taskbar, &startPatchAsync);
    ScriptBridge bridge(&state, host, host.shell());
    window.setCallDispatcher([&bridge](const std::string& name, const nlohmann::json& args, const ScriptReply& reply) {
        return bridge.dispatch(name, args, [reply](const nlohmann::json& value) { reply.answer(value); });
    });
    if (!loadPage(window, state)) return failureExit();
    wireWindow(window, state, host, testHooks);
    window.show();

    state.window = &window;
    startBackgroundWork(state, host);
    runEngineLoop();

    closeDown(state, host);
    bridge.setState(nullptr);
    LogFile::close();
    return 0;
}

}  // namespace mendly
