#include "patch/patch_reporting.h"

#include "log/log_file.h"

#include <algorithm>
#include <atomic>
#include <climits>

namespace mendly {
namespace {

// Atomic so that a worker reading them never races with the (rare) setter.
constinit std::atomic<PatchStatusCallback> g_status{nullptr};
constinit std::atomic<PatchProgressCallback> g_progress{nullptr};
constinit std::atomic<void (*)(PatchStage)> g_stage{nullptr};
constinit std::atomic<PatchStatusCallback> g_speedStatus{nullptr};
constinit std::atomic<void (*)(const PatchTransfer&)> g_transfer{nullptr};

struct StageEntry {
    PatchStage stage;
    std::u16string_view text;
    std::string_view name;
};
constexpr StageEntry kStages[] = {
    {PatchStage::Manifest, u"Downloading manifest...", "manifest"},
    {PatchStage::Verify, u"Verifying local files...", "verify"},
    {PatchStage::Download, u"Downloading files...", "download"},
    {PatchStage::Apply, u"Applying patches...", "apply"},
    {PatchStage::Prune, u"Pruning orphan archive entries...", "prune"},
};

const StageEntry& stageEntry(PatchStage stage) {
    for (const StageEntry& entry : kStages)
        if (entry.stage == stage) return entry;
    return kStages[0];
}

}  // namespace

void setPatchCallbacks(PatchStatusCallback status, PatchProgressCallback progress) {
    g_status.store(status);
    g_progress.store(progress);
}

std::u16string_view stageText(PatchStage stage) { return stageEntry(stage).text; }
std::string_view stageName(PatchStage stage) { return stageEntry(stage).name; }

void setPatchDetailCallbacks(const PatchDetailCallbacks& callbacks) {
    g_stage.store(callbacks.stage);
    g_speedStatus.store(callbacks.speedStatus);
    g_transfer.store(callbacks.transfer);
}

void reportStage(PatchWindow* window, PatchStage stage) {
    if (const auto callback = g_stage.load()) callback(stage);
    reportStatus(window, std::u16string(stageText(stage)));
}

void reportSpeedStatus(PatchWindow* window, const std::u16string& text) {
    const PatchStatusCallback own = g_speedStatus.load();
    if (own == nullptr) {
        reportStatus(window, text);
        return;
    }
    own(text);
    if (window != nullptr) postTextMessage(*window, WM_PATCH_STATUS, 0, text);
}

void reportTransfer(PatchWindow* window, const PatchTransfer& transfer) {
    if (const auto callback = g_transfer.load()) callback(transfer);
    if (window != nullptr) (void)postTransferMessage(*window, transfer);
}

void MonotonicProgress::report(std::int32_t done) {
    const std::lock_guard lock(mutex_);
    if (done <= last_) return;
    last_ = done;
    reportProgress(window_, done, total_);
}

void reportStatus(PatchWindow* window, const std::u16string& text) {
    if (const PatchStatusCallback callback = g_status.load()) callback(text);
    if (window != nullptr) postTextMessage(*window, WM_PATCH_STATUS, 0, text);
}

void reportStatusAndLog(PatchWindow* window, const std::u16string& text) {
    reportStatus(window, text);
    LogFile::write(text);
}

void reportProgress(PatchWindow* window, std::int32_t done, std::int32_t total) {
    if (const PatchProgressCallback callback = g_progress.load()) callback(done, total);
    if (window != nullptr)
        (void)window->post(WM_PATCH_PROGRESS, static_cast<std::intptr_t>(done), static_cast<std::intptr_t>(total));
}

std::int32_t progressCount(std::size_t n) {
    return static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX));
}

bool failWithLog(std::u16string& error, std::u16string text, std::u16string_view logPrefix) {
    error = std::move(text);
    LogFile::write(std::u16string(logPrefix) + error);
    return false;
}

PatchOutcome failedWithLog(std::u16string& error, std::u16string text, std::u16string_view logPrefix) {
    (void)failWithLog(error, std::move(text), logPrefix);
    return PatchOutcome::Failed;
}

PatchOutcome cancelledWithLog(std::u16string& error, std::u16string_view logLine) {
    error = u"Cancelled";
    LogFile::write(logLine);
    return PatchOutcome::Cancelled;
}

}  // namespace mendly
