#include "tasks/patch_tasks.h"

#include <array>
#include <string_view>
#include <system_error>

#include "bridge/launcher_messages.h"
#include "catalog/delete_safety.h"
#include "catalog/install_layout.h"
#include "catalog/manifest_trust.h"
#include "checks/background_checks.h"
#include "log/log_file.h"
#include "log/text.h"
#include "patch/cancel_flag.h"
#include "tasks/game_launch.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::u16string_view, 5> kStageTexts = {
    u"Downloading manifest...", u"Verifying local files...", u"Downloading files...", u"Applying patches...",
    u"Pruning orphan archive entries..."};

bool isStageText(std::u16string_view text) {
    for (auto stage : kStageTexts)
        if (text == stage) return true;
    return false;
}

void postRefresh(PageHost& host) { (void)host.mailbox()->post(WM_REFRESH_PAGE, 0, 0); }

// A copy of the selected entry, so that a catalog reload during the operation
// cannot pull it away.
std::optional<ServerEntry> selectedCopy(const LauncherState& state) {
    const auto* entry = state.selectedEntry();
    if (!entry) return std::nullopt;
    return *entry;
}

// Removes `folder` and everything in it; a folder that is not there counts as
// removed. Links inside are removed as links. The program folder, its
// parents, the clients folder and the root are never removed.
bool removeFolder(const LauncherState& state, const fs::path& folder) {
    std::u16string refusal;
    if (!isSafeToDelete(state.programFolder, state.catalog, 0, folder, refusal)) {
        LogFile::write(u"ERROR: " + refusal + u" " + folder.u16string());
        return false;
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return !ec;
}

// Asks the question, deletes `folder`, then starts the run; reports a folder
// that could not be deleted.
struct DeleteThenRun {
    std::u16string_view question;
    std::u16string_view caption;
    std::u16string_view logPrefix;
    std::u16string_view boxPrefix;
    PatchMode mode;
};

void deleteThenRun(LauncherState& state, PageHost& host, const DeleteThenRun& task, bool iniOnly) {
    if (state.busy) return;
    const auto entry = selectedCopy(state);
    if (!entry) return;
    if (!host.askYesNo({std::u16string(task.question), std::u16string(task.caption), NoticeIcon::Warning})) return;
    fs::path folder = state.installFolderOf(*entry);
    if (iniOnly) folder /= "ini";
    if (!removeFolder(state, folder)) {
        LogFile::write(std::u16string(task.logPrefix) + folder.u16string());
        host.showNotice({std::u16string(task.boxPrefix) + u"\n" + folder.u16string(), std::u16string(task.caption),
                         NoticeIcon::Error});
        return;
    }
    startTask(state, host, *entry, false, task.mode);
}

}  // namespace

void installSelected(LauncherState& state, PageHost& host) {
    if (state.busy) return;
    const auto entry = selectedCopy(state);
    if (!entry) return;
    if (entry->launchExecutable.empty()) {
        host.showNotice({u"This server entry is missing \"launchExecutable\".", u"Install", NoticeIcon::Information});
        return;
    }
    startTask(state, host, *entry, false, PatchMode::Install);
}

void playSelected(LauncherState& state, PageHost& host) {
    if (state.busy) return;
    const auto entry = selectedCopy(state);
    if (!entry) return;
    if (state.isEntryInstalled(*entry))
        startTask(state, host, *entry, true, PatchMode::Update);
    else
        installSelected(state, host);
}

void updateSelected(LauncherState& state, PageHost& host) {
    if (state.busy) return;
    const auto entry = selectedCopy(state);
    if (!entry || !state.isEntryInstalled(*entry)) return;
    startTask(state, host, *entry, false, PatchMode::Update);
}

void reinstallSelected(LauncherState& state, PageHost& host) {
    deleteThenRun(state, host,
                  {u"This will delete the selected Kaltris installation and reinstall it. Proceed?", u"Reinstall",
                   u"ERROR: Could not delete client folder: ", u"Could not delete client folder:", PatchMode::Install},
                  false);
}

void resetIniSelected(LauncherState& state, PageHost& host) {
    deleteThenRun(state, host,
                  {u"This will delete your local INI files and download fresh copies from the server. Proceed?",
                   u"Reset INI Files", u"ERROR: Could not delete ini folder: ", u"Could not delete INI folder:",
                   PatchMode::ResetIni},
                  true);
}

void cancelTask(LauncherState& state, PageHost& host) {
    if (!state.busy) return;
    state.taskStatus = u"Cancelling...";
    requestPatchCancel();
    postRefresh(host);
}

void startTask(LauncherState& state, PageHost& host, const ServerEntry& entry, bool launchAfter, PatchMode mode) {
    const fs::path folder = state.installFolderOf(entry);
    createInstallFolders(state.programFolder, folder);

    // Every task works on the selected entry.
    const TrustedKeys trust = state.selected >= 0 ? manifestTrust(state.catalog, static_cast<std::size_t>(state.selected))
                                                  : manifestTrust(entry, false);
    PatchStart start{manifestUrl(entry), filesBaseUrl(entry), folder, mode, trust};
    start.rateLimit = state.settings.downloadLimit;
    start.mirrors = mirrorAddresses(entry);
    start.serverName = toWide(displayName(entry));
    state.taskMode = mode;
    state.pauseRequested = false;
    state.transfer.reset();
    state.busy = true;
    state.launchAfterTask = launchAfter;
    state.progressDone = 0;
    state.progressTotal = 0;
    state.clearTaskProblem(state.selected);
    const bool resetIni = mode == PatchMode::ResetIni;
    const bool update = mode == PatchMode::Update;
    state.taskStatus = resetIni                 ? u"Resetting INI directory..."
                       : launchAfter || update ? u"Checking for updates..."
                                               : u"Installing...";
    postRefresh(host);
    host.taskbar().busy();
    LogFile::write(resetIni      ? u"--- Reset INI ---"
                   : launchAfter ? u"--- Play ---"
                   : update      ? u"--- Update ---"
                                 : u"--- Install ---");
    LogFile::write(u"Server: " + toWide(entry.name) + u" (" + toWide(entry.server) + u")");

    try {
        host.startPatch(std::move(start));
    } catch (const std::system_error& failure) {
        // Without a worker nothing would ever end the task: back to idle.
        LogFile::write(u"ERROR: Could not start the patch worker: " + toWide(failure.what()));
        state.busy = false;
        state.launchAfterTask = false;
        state.taskStatus.clear();
        host.taskbar().error();
        host.showNotice({u"Could not start the update:\n" + toWide(failure.what()), u"Update failed",
                         NoticeIcon::Error});
        host.taskbar().off();
        postRefresh(host);
    }
}

bool onPatchStatus(LauncherState& state, PageHost& host, std::u16string text) {
    if (!state.busy) return false;
    if (isStageText(text)) {
        state.progressDone = 0;
        if (state.progressTotal <= 0) state.progressTotal = 1;
    }
    state.taskStatus = std::move(text);
    postRefresh(host);
    return true;
}

void onPatchProgress(LauncherState& state, PageHost& host, std::int32_t done, std::int32_t total) {
    state.progressTotal = total;
    state.progressDone = done;
    if (state.busy && total > 0 && (state.taskStatus.empty() || state.taskStatus == u"Checking for updates...")) {
        state.taskStatus = u"Working...";
        host.taskbar().value(done, total);
    } else if (total <= 0) {
        host.taskbar().busy();
    } else {
        host.taskbar().value(done, total);
    }
    postRefresh(host);
}

void onPatchFinished(LauncherState& state, PageHost& host, PatchOutcome outcome, const std::u16string* error) {
    const bool wasLaunch = state.launchAfterTask;
    state.launchAfterTask = false;
    bool cancelled = false;
    bool failed = false;
    if (outcome == PatchOutcome::Ok) {
        const auto* entry = state.selectedEntry();
        if (wasLaunch && entry && state.isEntryInstalled(*entry)) (void)launchGame(state, host);
    } else if (outcome == PatchOutcome::Cancelled) {
        cancelled = true;
        state.taskStatus = u"Cancelled";
        LogFile::write(u"Patch cancelled by user");
    } else if (error) {
        // The selection cannot change while busy: the failed run was the
        // selected entry's. The page shows the sentence in its own style.
        failed = true;
        host.taskbar().error();
        state.noteTaskFailure(state.selected, state.taskMode, *error);
    }
    state.busy = false;
    state.progressDone = 0;
    state.progressTotal = 0;
    if (!cancelled) state.taskStatus.clear();
    host.taskbar().off();
    if (failed) refreshSelectedVersion(state, host);
    refreshStatuses(state, host);
    (void)host.mailbox()->post(WM_RELOAD_SERVER_LIST, 0, 0);
    postRefresh(host);
}

}  // namespace mendly
