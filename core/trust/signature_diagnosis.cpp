#include "trust/signature_diagnosis.h"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace mendly {

std::string signedByClaim(std::string_view document) {
    const nlohmann::json root = nlohmann::json::parse(document.begin(), document.end(), nullptr, false);
    if (!root.is_object()) return {};
    const auto claim = root.find("signedBy");
    return claim != root.end() && claim->is_string() ? claim->get<std::string>() : std::string();
}

SignatureFault diagnoseSignatureFailure(std::string_view document, SignatureCheck check, const TrustedKeys& trust) {
    if (check == SignatureCheck::NoSignature) return SignatureFault::Unsigned;
    const auto named = parsePublicKeyText(signedByClaim(document));
    const bool trusted = named && std::find(trust.keys.begin(), trust.keys.end(), *named) != trust.keys.end();
    return trusted ? SignatureFault::NotMatching : SignatureFault::UntrustedKey;
}

}  // namespace mendly
