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
#include <string>
#include <string_view>

#include "patch/patch_window.h"

namespace mendly {

using PatchStatusCallback = void (*)(const std::u16string& text);
using PatchProgressCallback = void (*)(std::int32_t done, std::int32_t total);

// Either may be null (that channel is then silent). Both start null.
void setPatchCallbacks(PatchStatusCallback status, PatchProgressCallback progress);

// Status callback with `text`, then WM_PATCH_STATUS with a copy of it when
// `window` is not null (the copy is freed here if the post fails).
void reportStatus(PatchWindow* window, const std::u16string& text);
// Progress callback, then WM_PATCH_PROGRESS (done, total) when `window` is not null.
void reportProgress(PatchWindow* window, std::int32_t done, std::int32_t total);

// A count as a progress value: n, or INT32_MAX when it does not fit.
std::int32_t progressCount(std::size_t n);

// How a step of a run fails: `error` = text, the log line logPrefix + text,
// and false to return. Safe from any thread (the log has its own lock).
bool failWithLog(std::u16string& error, std::u16string text, std::u16string_view logPrefix);

}  // namespace mendly
