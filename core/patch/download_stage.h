#pragma once
// The download stage of a patch run: every entry that needs patching is
// fetched from the patch server in parallel, checked against the manifest's
// MD5 as soon as it arrives, and kept in memory for the apply step.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/manifest.h"
#include "patch/patch_window.h"
#include "patch/vfile/stored_entry.h"

namespace mendly {

// One position of the download list. Owned by the worker that took the
// position until the stage ends, then handed to the apply step.
struct DownloadSlot {
    std::size_t index = 0;  // manifest index; set when a worker takes the position
    std::string bytes;      // the file's contents (only when ok; empty once `prepared` holds them)
    bool ok = false;        // the contents arrived and matched the MD5
    // For a plain archive member (not a single-file payload): its stored form,
    // compressed by the worker that downloaded it so that compression runs in
    // parallel with the other downloads instead of one member at a time in the
    // apply step. Empty when compressing failed (the apply step then reports it).
    std::optional<vfile::StoredEntry> prepared;
};

struct DownloadResult {
    std::vector<DownloadSlot> slots;  // one per position of the list, same order
    std::int32_t failed = 0;          // failed transfers plus MD5 mismatches
    std::u16string firstError;        // the first failure message any worker recorded
};

// Fetches manifest.files[i] for every i of `list` (N = list.size() >= 1) from
// under filesBaseUrl on workerCount(N) threads. Each file is requested once;
// a failure is logged ("ERROR: " + url + " — " + message), counted, and the
// other files still download. Progress (done, N) per matching file and now and
// then "Downloading files (<speed>)" come from the worker threads. A
// cancellation ends the workers quietly: nothing is counted or logged for the
// transfers it cut short, and their slots stay not ok. The caller has sent
// the statuses and (0, N) before, and checks the cancel flag afterwards.
DownloadResult downloadFiles(const PatchManifest& manifest, const std::vector<std::size_t>& list,
                             std::u16string_view filesBaseUrl, PatchWindow* window);

}  // namespace mendly
