#pragma once
// The two progress channels of a patch run: process-wide callbacks (tidewright)
// and posted window messages (launcher). Every report goes to the installed
// callback first and then, when the run has a window, to the window.
//
// Reports come from the run's thread and from its worker threads at the same
// time and may arrive out of order, so callbacks must be thread-safe. The
// callbacks are set between runs, never while one is in progress.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "patch/patch_outcome.h"
#include "patch/patch_window.h"

namespace mendly {

using PatchStatusCallback = void (*)(const std::u16string& text);
using PatchProgressCallback = void (*)(std::int32_t done, std::int32_t total);

// Either may be null (that channel is then silent). Both start null.
void setPatchCallbacks(PatchStatusCallback status, PatchProgressCallback progress);

// The stages of a run, each announced by its status line (stageText).
enum class PatchStage { Manifest, Verify, Download, Apply, Prune };
std::u16string_view stageText(PatchStage stage);
// A short lowercase name for machine-readable output: "manifest", "verify",
// "download", "apply", "prune".
std::string_view stageName(PatchStage stage);

// What a front end that draws its own progress wants beside the two channels
// above: the stage as a value, the download's bytes and speed, and the
// "Downloading files (<speed>)" statuses on their own channel. Any member may
// be null. With speedStatus null those statuses go to the status callback as
// before; with it set, only there. All start null; set between runs.
struct PatchDetailCallbacks {
    void (*stage)(PatchStage stage) = nullptr;
    void (*speedStatus)(const std::u16string& text) = nullptr;
    void (*transfer)(const PatchTransfer& transfer) = nullptr;
};
void setPatchDetailCallbacks(const PatchDetailCallbacks& callbacks);

// Status callback with `text`, then WM_PATCH_STATUS with a copy of it when
// `window` is not null (the copy is freed here if the post fails).
void reportStatus(PatchWindow* window, const std::u16string& text);
// reportStatus, and the same line in the log (what a run measured: sizes, times).
void reportStatusAndLog(PatchWindow* window, const std::u16string& text);
// Progress callback, then WM_PATCH_PROGRESS (done, total) when `window` is not null.
void reportProgress(PatchWindow* window, std::int32_t done, std::int32_t total);

// A stage begins: the stage callback, then reportStatus(stageText(stage)).
void reportStage(PatchWindow* window, PatchStage stage);
// A "Downloading files (<speed>)" status (see PatchDetailCallbacks).
void reportSpeedStatus(PatchWindow* window, const std::u16string& text);
// The transfer callback, then WM_PATCH_TRANSFER when `window` is not null.
void reportTransfer(PatchWindow* window, const PatchTransfer& transfer);

// Progress reports of one stage from many workers, in order: a count that is
// not above the last one reported is dropped, so what the channels see never
// steps back. The reporting happens under the object's own mutex.
class MonotonicProgress {
public:
    MonotonicProgress(PatchWindow* window, std::int32_t total) : window_(window), total_(total) {}
    void report(std::int32_t done);

private:
    PatchWindow* const window_;
    const std::int32_t total_;
    std::mutex mutex_;          // guards last_ and orders the reports
    std::int32_t last_ = -1;
};

// A count as a progress value: n, or INT32_MAX when it does not fit.
std::int32_t progressCount(std::size_t n);

// How a step of a run fails: `error` = text, the log line logPrefix + text,
// and false to return. Safe from any thread (the log has its own lock).
bool failWithLog(std::u16string& error, std::u16string text, std::u16string_view logPrefix);
// The same as an outcome: Failed.
PatchOutcome failedWithLog(std::u16string& error, std::u16string text, std::u16string_view logPrefix);
// How a step of a run ends on a cancellation: `error` = "Cancelled" (what the
// user reads), `logLine` logged, Cancelled to return.
PatchOutcome cancelledWithLog(std::u16string& error, std::u16string_view logLine);

}  // namespace mendly
