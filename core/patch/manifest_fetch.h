#pragma once
// The manifest of a run, from the first of the run's hosts that answers with
// one the run can use: fetched, signed by a trusted key when one is asked for
// (its signature from the same host), parsable, listing files, and allowed by
// its own claims (manifest_policy.h). A host that fails is demoted and the
// next one asked; only the last host left is asked again after a transient
// failure (RetryPolicy), each pause announced by a status (retryLine).
//
// Failures are logged as the run always logged them ("ERROR: " + manifestUrl
// + " — " + sentence for a failed fetch, "ERROR: " + sentence otherwise),
// with "WARNING: " instead for a host after which another is asked. The
// error text is the last host's sentence; after a failed fetch it is followed
// by the line of patchListContext, and with several hosts every failure is.
//
// Runs on the run's thread.
#include <filesystem>
#include <string>
#include <string_view>

#include "net/rate_limit.h"
#include "net/retry_policy.h"
#include "patch/host_pool.h"
#include "patch/manifest.h"
#include "patch/patch_window.h"
#include "patch/patch_outcome.h"
#include "trust/trusted_keys.h"

namespace mendly {

struct ManifestSource {
    HostPool& hosts;
    const RetryPolicy& retry;
    std::u16string_view serverName;  // for the context line; may be empty
};

// `digest` is the SHA-256 of the manifest as served. Cancelled, with
// "Cancelled" in `error`, when the cancel flag ended it (logged "Patch
// cancelled while downloading manifest"); Failed with the sentence.
[[nodiscard]] PatchOutcome fetchRunManifest(PatchWindow* window, const ManifestSource& source, const TrustedKeys& trust,
                                            const std::filesystem::path& installDir, TransferRateLimit* limit,
                                            PatchManifest& manifest, std::string& digest, std::u16string& error);

}  // namespace mendly
