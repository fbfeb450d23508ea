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

}  // namespace

void setPatchCallbacks(PatchStatusCallback status, PatchProgressCallback progress) {
    g_status.store(status);
    g_progress.store(progress);
}

void reportStatus(PatchWindow* window, const std::u16string& text) {
    if (const PatchStatusCallback callback = g_status.load()) callback(text);
    if (window != nullptr) postTextMessage(*window, WM_PATCH_STATUS, 0, text);
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

}  // namespace mendly
