#include "task_progress.h"

#include <array>
#include <string_view>

#include "log/log_file.h"

namespace mendly {
namespace {

constexpr std::array<std::u16string_view, 5> kStageTexts = {
    u"Downloading manifest...", u"Verifying local files...", u"Downloading files...", u"Applying patches...",
    u"Pruning orphan archive entries..."};

bool isStageText(std::u16string_view text) {
    for (auto stage : kStageTexts)
        if (text == stage) return true;
    return false;
}

}  // namespace

bool applyPatchStatus(LauncherState& state, std::u16string text) {
    if (!state.busy) return false;
    if (isStageText(text)) {
        state.progressDone = 0;
        if (state.progressTotal <= 0) state.progressTotal = 1;
    }
    state.taskStatus = std::move(text);
    return true;
}

bool applyPatchProgress(LauncherState& state, std::int32_t done, std::int32_t total) {
    state.progressTotal = total;
    state.progressDone = done;
    if (state.busy && total > 0 && (state.taskStatus.empty() || state.taskStatus == u"Checking for updates..."))
        state.taskStatus = u"Working...";
    return true;
}

void applyPatchFinished(LauncherState& state, bool ok, const std::u16string* error) {
    state.launchAfterTask = false;
    state.busy = false;
    state.progressDone = 0;
    state.progressTotal = 0;
    if (!ok && error != nullptr && *error == u"Cancelled") {
        state.taskStatus = u"Cancelled";
        LogFile::write(u"Patch cancelled by user");
    } else {
        state.taskStatus.clear();
    }
}

}  // namespace mendly
