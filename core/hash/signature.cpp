#include "hash/signature.h"

#include "hash/base64.h"
#include "hash/ed25519_verify.h"

namespace mendly {
namespace {

std::string_view trimmedWhiteSpace(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\f\v";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

template <std::size_t N>
std::optional<std::array<unsigned char, N>> parseFixed(std::string_view text) {
    const auto bytes = base64Decode(trimmedWhiteSpace(text));
    if (!bytes || bytes->size() != N) return std::nullopt;
    std::array<unsigned char, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<unsigned char>((*bytes)[i]);
    return out;
}

template <std::size_t N>
std::string fixedText(const std::array<unsigned char, N>& bytes) {
    return base64Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), N));
}

}  // namespace

std::optional<PublicKey> parsePublicKeyText(std::string_view text) { return parseFixed<kPublicKeySize>(text); }
std::optional<Signature> parseSignatureText(std::string_view text) { return parseFixed<kSignatureSize>(text); }
std::string publicKeyText(const PublicKey& key) { return fixedText(key); }
std::string signatureText(const Signature& signature) { return fixedText(signature); }

bool isUsablePublicKey(const PublicKey& key) { return ed25519PublicKeyIsStrong(key); }

bool verifySignature(std::string_view document, const Signature& signature, const PublicKey& key) {
    return isUsablePublicKey(key) && ed25519SignatureIsCanonical(signature) &&
           platformVerifySignature(document, signature, key);
}

SignatureCheck checkSignature(std::string_view document, const std::optional<std::string>& signatureFile,
                              std::span<const PublicKey> keys) {
    if (!signatureFile) return SignatureCheck::NoSignature;
    const auto signature = parseSignatureText(*signatureFile);
    if (!signature) return SignatureCheck::NoSignature;
    for (const PublicKey& key : keys)
        if (verifySignature(document, *signature, key)) return SignatureCheck::Valid;
    return SignatureCheck::NoTrustedKey;
}

}  // namespace mendly
