#include "selfupdate/update_information.h"

#include "log/text.h"
#include "net/http_client.h"
#include "trust/signature_diagnosis.h"
#include "trust/signed_fetch.h"
#include "trust/utc_timestamp.h"

namespace mendly {
namespace {

UpdateInformation failed(UpdateInformationResult result, std::u16string problem) {
    UpdateInformation info;
    info.result = result;
    info.problem = std::move(problem);
    return info;
}

// Empty when the signed information may still be used at `now`.
std::u16string expiryProblem(const LauncherManifest& manifest, std::chrono::system_clock::time_point now) {
    const auto expires = parseUtcTimestamp(manifest.expires);
    if (!expires) return u"no expiry date";
    // Compared in seconds: a far-off stamp (past 2262) does not fit in the
    // clock's nanoseconds.
    if (std::chrono::floor<std::chrono::seconds>(now) >= *expires) return u"expired " + toWide(manifest.expires);
    return {};
}

// Empty when the signed information is not older than what was accepted before.
std::u16string releaseProblem(const LauncherManifest& manifest, std::optional<std::uint64_t> installed) {
    if (!manifest.release) return u"no release number";
    if (installed && *manifest.release < *installed)
        return u"release " + toWide(std::to_string(*manifest.release)) +
               u" is older than the one already installed (release " + toWide(std::to_string(*installed)) + u")";
    return {};
}

}  // namespace

UpdateInformation fetchUpdateInformation(std::u16string_view manifestUrl, const TrustedKeys& trust,
                                         std::chrono::steady_clock::time_point deadline,
                                         std::chrono::system_clock::time_point now,
                                         std::optional<std::uint64_t> installedRelease) {
    HttpRequestOptions options;
    options.deadline = deadline;
    options.documentLimit = kHttpSmallDocumentLimit;
    std::string body;
    std::u16string error;
    if (!httpGet(manifestUrl, body, error, options))
        return failed(UpdateInformationResult::DownloadFailed, error.empty() ? u"latest.json download failed" : error);

    switch (checkServedSignature(manifestUrl, body, trust, options)) {
        case SignatureCheck::Valid: break;
        case SignatureCheck::NoSignature: return failed(UpdateInformationResult::Rejected, u"no signature");
        case SignatureCheck::NoTrustedKey:
            // Named by a trusted key yet not matching: changed after signing.
            if (diagnoseSignatureFailure(body, SignatureCheck::NoTrustedKey, trust) == SignatureFault::NotMatching)
                return failed(UpdateInformationResult::Rejected, u"signature does not match latest.json");
            return failed(UpdateInformationResult::Rejected, u"signature does not match a trusted key");
    }
    UpdateInformation info;
    if (!parseLauncherManifest(body, info.manifest, error))
        return failed(UpdateInformationResult::Unparsable, std::move(error));
    if (trust.required) {
        if (auto problem = expiryProblem(info.manifest, now); !problem.empty())
            return failed(UpdateInformationResult::Rejected, std::move(problem));
        if (auto problem = releaseProblem(info.manifest, installedRelease); !problem.empty())
            return failed(UpdateInformationResult::Rejected, std::move(problem));
    }
    info.result = UpdateInformationResult::Usable;
    return info;
}

}  // namespace mendly
