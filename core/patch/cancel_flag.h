#pragma once
// The process-wide cancel flag shared by every patch run, its workers and
// httpGet. False at start; set by the user's Cancel or by Ctrl+C / the break
// key; a run never clears it. Read without a lock: it carries no data and only
// has to become visible to the other threads eventually.
//
// Every function here is callable from any thread and, being a single store or
// load on a lock-free atomic, from a signal handler.
#include <atomic>

namespace mendly {

using CancelFlag = std::atomic<bool>;

void requestPatchCancel() noexcept;
void resetPatchCancel() noexcept;
[[nodiscard]] bool isPatchCancelRequested() noexcept;

// The flag itself, for httpGet(..., &patchCancelFlag()) and other readers.
const CancelFlag& patchCancelFlag() noexcept;
// The same flag, writable, for code that must be handed the object to set it
// (a signal handler's target). Everyone else uses requestPatchCancel.
CancelFlag& patchCancelFlagForSignalHandler() noexcept;

}  // namespace mendly
