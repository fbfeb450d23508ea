#include "patch/patch_address_check.h"

#include "catalog/patch_addresses.h"
#include "net/http_client.h"
#include "patch/manifest.h"
#include "patch/manifest_policy.h"
#include "trust/signed_fetch.h"

namespace mendly {

std::u16string patchAddressProblem(const ServerEntry& entry, const TrustedKeys& trust) {
    const std::u16string url = manifestUrl(entry);
    if (trust.required && trust.keys.empty()) return manifestSignatureSentence(SignatureFault::UntrustedKey);

    HttpRequestOptions options;
    options.deadline = std::chrono::steady_clock::now() + kPatchAddressCheckTime;
    std::string bytes;
    std::u16string fetchError;
    if (!httpGet(url, bytes, fetchError, options))
        return u"Could not fetch the patch manifest from " + url + u": " + fetchError;

    if (const auto check = checkServedSignature(url, bytes, trust, options); check != SignatureCheck::Valid)
        return manifestSignatureSentence(diagnoseSignatureFailure(bytes, check, trust));

    PatchManifest manifest;
    std::u16string parseError;
    if (!parseManifest(bytes, manifest, parseError))
        return url + u" does not serve a valid patch manifest (" + parseError + u").";
    if (manifest.files.empty()) return url + u" serves a patch manifest that lists no files.";
    if (trust.required)
        return signedManifestProblem(manifest, trust, std::nullopt, std::chrono::system_clock::now());
    return {};
}

}  // namespace mendly
