#include "patch/manifest_policy.h"

#include <algorithm>

#include "log/text.h"
#include "trust/release_number.h"
#include "trust/utc_timestamp.h"

namespace mendly {
namespace {

std::u16string decimal(std::uint64_t value) { return toWide(std::to_string(value)); }

}  // namespace

std::u16string signedManifestProblem(const PatchManifest& manifest, const TrustedKeys& trust,
                                     std::optional<std::uint64_t> installedRelease,
                                     std::chrono::system_clock::time_point now) {
    if (!trust.required) return {};
    if (!trust.server.empty() && manifest.server != trust.server)
        return u"The patch manifest is for another server (\"" + toWide(manifest.server) + u"\").";
    const auto expires = parseUtcTimestamp(manifest.expires);
    if (!expires) return u"The patch manifest has no expiry date.";
    // In seconds: a stamp far beyond 2262 does not fit the clock's nanoseconds.
    if (std::chrono::floor<std::chrono::seconds>(now) >= *expires)
        return u"The patch manifest expired on " + toWide(manifest.expires) + u".";
    if (!manifest.release) return u"The patch manifest has no release number.";
    if (installedRelease && *manifest.release < *installedRelease)
        return u"The patch manifest (release " + decimal(*manifest.release) +
               u") is older than the one already installed (release " + decimal(*installedRelease) + u").";
    if (std::any_of(manifest.files.begin(), manifest.files.end(),
                    [](const ManifestEntry& entry) { return entry.sha256.empty(); }))
        return u"The patch manifest does not name a SHA-256 for every file.";
    return {};
}

std::optional<std::uint64_t> loadInstalledRelease(const std::filesystem::path& installDir) {
    return loadReleaseNumber(installDir / kReleaseFileName);
}

bool saveInstalledRelease(const std::filesystem::path& installDir, std::uint64_t release) {
    return saveReleaseNumber(installDir / kReleaseFileName, release);
}

std::u16string manifestSignatureSentence(SignatureFault fault) {
    switch (fault) {
        case SignatureFault::Unsigned: return u"The patch manifest is not signed.";
        case SignatureFault::NotMatching: return u"The patch manifest does not match its signature.";
        case SignatureFault::UntrustedKey: break;
    }
    return u"The patch manifest is not signed by a trusted key.";
}

}  // namespace mendly
