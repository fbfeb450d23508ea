#pragma once
// Fetching latest.json and deciding whether to believe it.
//
// When `trust` requires signatures, latest.json must be signed (latest.json
// + ".sig") by one of its keys and carry an "expires" time stamp
// (YYYY-MM-DDTHH:MM:SSZ, UTC) that has not passed; otherwise it is rejected
// with one of the reasons "no signature", "signature does not match a trusted
// key", "signature does not match latest.json" (it names a trusted key as
// its signer, so it was changed after signing), "no expiry date" or
// "expired " + the stamp as written. It must also
// carry a "release" number no lower than `installedRelease` (the highest one
// the programs accepted before; see release_number.h): "no release number",
// or "release N is older than the one already installed (release M)".
//
// Runs on the caller's thread. Both downloads share one deadline and are
// small documents (at most 1 MiB each).
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "selfupdate/launcher_manifest.h"
#include "trust/trusted_keys.h"

namespace mendly {

enum class UpdateInformationResult { Usable, DownloadFailed, Rejected, Unparsable };

struct UpdateInformation {
    UpdateInformationResult result = UpdateInformationResult::DownloadFailed;
    LauncherManifest manifest;  // when Usable
    std::u16string problem;     // the download sentence, rejection reason or parse sentence
};

UpdateInformation fetchUpdateInformation(std::u16string_view manifestUrl, const TrustedKeys& trust,
                                         std::chrono::steady_clock::time_point deadline,
                                         std::chrono::system_clock::time_point now,
                                         std::optional<std::uint64_t> installedRelease = std::nullopt);

// Beside the programs: the highest release of signed update information the
// programs accepted.
inline constexpr std::string_view kLauncherReleaseFileName = ".mendly-launcher-release";

}  // namespace mendly
