#include "tasks/pause_tasks.h"

#include <nlohmann/json.hpp>

#include "bridge/launcher_messages.h"
#include "checks/background_checks.h"
#include "log/log_file.h"
#include "log/text.h"
#include "model/bridge_json.h"
#include "net/rate_limit.h"
#include "patch/cancel_flag.h"
#include "tasks/patch_tasks.h"

namespace mendly {
namespace {

void postRefresh(PageHost& host) { (void)host.mailbox()->post(WM_REFRESH_PAGE, 0, 0); }

void saveSettings(const LauncherState& state) {
    if (!saveLauncherSettings(state.programFolder, state.settings))
        LogFile::write(u"ERROR: Cannot write: " + (state.programFolder / kLauncherSettingsFileName).u16string());
}

void recordPaused(LauncherState& state) {
    const auto* entry = state.selectedEntry();
    if (!entry) return;
    state.settings.paused = PausedDownload{entry->name, state.taskMode, state.launchAfterTask};
    saveSettings(state);
}

std::string limitText(std::uint64_t limit) { return limit > 0 ? toUtf8(formatRateLimit(limit)) : std::string(); }

}  // namespace

void pauseTask(LauncherState& state, PageHost& host) {
    if (!state.canPause()) return;
    state.pauseRequested = true;
    state.taskStatus = u"Pausing...";
    LogFile::write(u"Download paused by user");
    requestPatchCancel();
    postRefresh(host);
}

void resumeTask(LauncherState& state, PageHost& host) {
    if (state.busy) return;
    const PausedDownload* paused = state.pausedSelected();
    const auto* entry = state.selectedEntry();
    if (!paused || !entry) return;
    const PausedDownload task = *paused;
    const ServerEntry copy = *entry;
    LogFile::write(u"Resuming the paused download of " + toWide(task.name));
    startTask(state, host, copy, task.launchAfter, task.mode);
}

FinishedTask noteFinishingTask(const LauncherState& state) {
    return {state.pauseRequested, state.progressDone, state.progressTotal};
}

void settleFinishedTask(LauncherState& state, PageHost& host, const FinishedTask& task, bool ok) {
    state.pauseRequested = false;
    if (task.pauseRequested && !ok) {
        recordPaused(state);
        state.taskStatus = u"Paused";
        state.progressDone = task.progressDone;
        state.progressTotal = task.progressTotal;
        LogFile::write(u"Download paused: Resume or the next start continues it");
        postRefresh(host);
        return;
    }
    state.transfer.reset();
    const auto* entry = state.selectedEntry();
    if (state.settings.paused && entry && state.settings.paused->name == entry->name) {
        state.settings.paused.reset();
        saveSettings(state);
    }
}

void recordPauseOnClose(LauncherState& state) {
    if (!state.busy) return;
    recordPaused(state);
}

void continuePausedDownload(LauncherState& state, PageHost& host) {
    if (!state.settings.paused || state.busy) return;
    const std::string& name = state.settings.paused->name;
    for (std::size_t i = 0; i < state.catalog.entries.size(); ++i) {
        if (state.catalog.entries[i].name != name) continue;
        (void)selectEntry(state, host, static_cast<std::int32_t>(i));
        resumeTask(state, host);
        return;
    }
}

std::string setDownloadLimit(LauncherState& state, const std::string& text) {
    nlohmann::json answer = nlohmann::json::object();
    const std::u16string wide = trimWide(toWide(text));
    std::uint64_t limit = 0;
    if (!wide.empty() && wide != u"0") {
        const auto parsed = parseRateLimit(wide);
        if (!parsed) {
            answer["ok"] = false;
            answer["error"] = toUtf8(rateLimitProblem(wide));
            answer["downloadLimit"] = limitText(state.settings.downloadLimit);
            return compactJson(answer);
        }
        limit = *parsed;
    }
    state.settings.downloadLimit = limit;
    saveSettings(state);
    LogFile::write(limit > 0 ? u"Download limit set to " + formatRateLimit(limit) + u" per second"
                             : std::u16string(u"Download limit removed"));
    answer["ok"] = true;
    answer["downloadLimit"] = limitText(limit);
    return compactJson(answer);
}

std::string downloadSettingsJson(const LauncherState& state) {
    nlohmann::json answer = nlohmann::json::object();
    answer["downloadLimit"] = limitText(state.settings.downloadLimit);
    return compactJson(answer);
}

}  // namespace mendly
