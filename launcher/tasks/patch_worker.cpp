#include "tasks/patch_worker.h"

#include <thread>

#include "patch/cancel_flag.h"

namespace mendly {

void patchWorker(const std::shared_ptr<PatchWindow>& window, const PatchStart& start) {
    std::u16string error;
    PatchRunOptions options;
    options.rateLimit = start.rateLimit;
    options.mirrors = start.mirrors;
    options.serverName = start.serverName;
    const PatchOutcome outcome = runPatchWithOutcome(window.get(), start.manifestUrl, start.filesBaseUrl,
                                                     start.manifestTrust, start.installFolder, start.mode, options,
                                                     error);
    if (window) (void)postPatchFinished(window.get(), outcome, error);
}

void startPatchAsync(std::shared_ptr<PatchWindow> window, PatchStart start) {
    resetPatchCancel();
    std::thread([window = std::move(window), start = std::move(start)] { patchWorker(window, start); }).detach();
}

}  // namespace mendly
