#pragma once
// The background run of a patch task: one detached thread per run that calls
// runPatch and posts WM_PATCH_FINISHED to the launcher window when it ends.
// The engine posts its own WM_PATCH_STATUS and WM_PATCH_PROGRESS meanwhile.
#include <memory>

#include "bridge/patch_start.h"
#include "patch/patch_window.h"

namespace mendly {

// Clears the cancel flag and starts the worker. Throws std::system_error when
// the thread cannot be created (the caller reports it and stays idle).
void startPatchAsync(std::shared_ptr<PatchWindow> window, PatchStart start);

// The worker's body (run directly by tests): runPatch, then the end-of-run
// message with the error text as payload (freed here when the post fails).
void patchWorker(const std::shared_ptr<PatchWindow>& window, const PatchStart& start);

}  // namespace mendly
