#pragma once
// Checking a downloaded document against the signature its host serves
// beside it: the document at address U is signed by U + ".sig".
// Runs on the caller's thread; thread-safe like httpGet.
#include <string>
#include <string_view>

#include "hash/signature.h"
#include "net/http_client.h"
#include "trust/trusted_keys.h"

namespace mendly {

std::u16string signatureUrl(std::u16string_view documentUrl);

// Valid at once when `trust` does not require a signature. Otherwise fetches
// the signature (a small document, with `options`' cancel flag and deadline)
// and checks `document` against the keys; a signature that cannot be fetched
// for any reason counts as none.
SignatureCheck checkServedSignature(std::u16string_view documentUrl, std::string_view document,
                                    const TrustedKeys& trust, HttpRequestOptions options);

}  // namespace mendly
