#pragma once
// What a signed patch manifest must say beyond its signature before a run
// uses it: that it is meant for this server, still current, no older than
// the one this installation already took, and names a SHA-256 for every file
// (so that a file made to share another's MD5 cannot pass). An unsigned
// manifest (no key required) is taken as it is.
//
// The highest release an installation took is kept in
// <installation>/.mendly-release (decimal text, replaced whole).
// Pure functions apart from load/save; any thread.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "patch/manifest.h"
#include "trust/signature_diagnosis.h"
#include "trust/trusted_keys.h"

namespace mendly {

inline constexpr std::string_view kReleaseFileName = ".mendly-release";

// Empty when `manifest` may be used; otherwise the sentence for the user:
//   "The patch manifest is for another server (\"x\")."
//   "The patch manifest has no expiry date." / "The patch manifest expired on <stamp>."
//   "The patch manifest has no release number."
//   "The patch manifest (release N) is older than the one already installed (release M)."
//   "The patch manifest does not name a SHA-256 for every file."
std::u16string signedManifestProblem(const PatchManifest& manifest, const TrustedKeys& trust,
                                     std::optional<std::uint64_t> installedRelease,
                                     std::chrono::system_clock::time_point now);

// The release `installDir` took last; nothing when none is recorded or the
// file does not hold a number.
std::optional<std::uint64_t> loadInstalledRelease(const std::filesystem::path& installDir);
// Records `release` as taken. False when it cannot be written.
[[nodiscard]] bool saveInstalledRelease(const std::filesystem::path& installDir, std::uint64_t release);

// What a run says when a required signature fails (signature_diagnosis.h):
// "The patch manifest is not signed.", "The patch manifest does not match its
// signature." (changed after it was signed by a trusted key) or "The patch
// manifest is not signed by a trusted key."
std::u16string manifestSignatureSentence(SignatureFault fault);

}  // namespace mendly
