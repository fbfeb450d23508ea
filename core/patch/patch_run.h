#pragma once
// One patch run: brings the installation in installDir up to date with the
// server's patch manifest (install, update or INI reset, by mode).
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/patch_addresses.h"
#include "net/retry_policy.h"

#include "patch/patch_mode.h"
#include "patch/patch_outcome.h"
#include "patch/patch_window.h"
#include "trust/trusted_keys.h"

namespace mendly {

// Fetches the manifest at manifestUrl, verifies every entry `mode` selects,
// downloads what differs from under filesBaseUrl and applies it: loose files
// through path + ".part" renamed over the target, archive members by
// rewriting each affected archive once; archive entries the manifest no
// longer lists are removed (not in ResetIni mode).
//
// Blocks until done; runs on the caller's thread and starts and joins its own
// workers. Statuses and progress go to the installed callbacks and, when
// `window` is not null, to the window as WM_PATCH_STATUS / WM_PATCH_PROGRESS.
// True on success, `error` untouched. False with one sentence for the user in
// `error`, exactly "Cancelled" when the cancel flag ended the run; every
// failure except a cancellation seen before the start is also logged. Nothing
// is rolled back: the next run's verification repairs what a failed run left.
// Never throws.
[[nodiscard]] bool runPatch(PatchWindow* window, std::u16string_view manifestUrl, std::u16string_view filesBaseUrl,
                            const std::filesystem::path& installDir, PatchMode mode, std::u16string& error);
// The same with a manifest that must be signed (manifestUrl + ".sig") by one
// of `manifestTrust`'s keys when it requires a signature; otherwise the run
// fails with "The patch manifest is not signed by a trusted key." before any
// file is verified or fetched.
[[nodiscard]] bool runPatch(PatchWindow* window, std::u16string_view manifestUrl, std::u16string_view filesBaseUrl,
                            const TrustedKeys& manifestTrust, const std::filesystem::path& installDir,
                            PatchMode mode, std::u16string& error);

// What a caller may ask of one run beyond the installation and the mode.
struct PatchRunOptions {
    // Bytes per second for every transfer of the run together (manifest,
    // signature and files), whatever host they go to; 0: no limit.
    std::uint64_t rateLimit = 0;
    // Further hosts of the same server, asked after manifestUrl/filesBaseUrl
    // (the primary): the manifest and its signature come from the first host
    // that answers with a usable one, files from any host, and a host that
    // fails or is slow is demoted for the rest of the run (host_pool.h,
    // manifest_fetch.h, download_stage.h). Every file is checked by its digest
    // and the manifest by its signature whichever host served them.
    std::vector<PatchHostAddresses> mirrors;
    // The server as the player knows it (its display name), named in the line
    // that follows a failed download's sentence; empty: not named.
    std::u16string serverName;
    // How transient failures are asked again (tests shorten the pauses).
    RetryPolicy retry;
};
[[nodiscard]] bool runPatch(PatchWindow* window, std::u16string_view manifestUrl, std::u16string_view filesBaseUrl,
                            const TrustedKeys& manifestTrust, const std::filesystem::path& installDir,
                            PatchMode mode, const PatchRunOptions& options, std::u16string& error);
// The same, saying how the run ended: Ok (`error` untouched), Cancelled (the
// cancel flag ended it; `error` "Cancelled", the sentence the user reads) or
// Failed (`error` says why). Callers decide by the outcome, not the sentence.
[[nodiscard]] PatchOutcome runPatchWithOutcome(PatchWindow* window, std::u16string_view manifestUrl,
                                               std::u16string_view filesBaseUrl, const TrustedKeys& manifestTrust,
                                               const std::filesystem::path& installDir, PatchMode mode,
                                               const PatchRunOptions& options, std::u16string& error);

}  // namespace mendly
