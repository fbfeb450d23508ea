#include "trust/signed_fetch.h"

#include <optional>

namespace mendly {

std::u16string signatureUrl(std::u16string_view documentUrl) { return std::u16string(documentUrl) + u".sig"; }

SignatureCheck checkServedSignature(std::u16string_view documentUrl, std::string_view document,
                                    const TrustedKeys& trust, HttpRequestOptions options) {
    if (!trust.required) return SignatureCheck::Valid;
    options.documentLimit = kHttpSmallDocumentLimit;
    std::string text;
    std::u16string error;
    std::optional<std::string> signature;
    if (httpGet(signatureUrl(documentUrl), text, error, options)) signature = std::move(text);
    return checkSignature(document, signature, trust.keys);
}

}  // namespace mendly
