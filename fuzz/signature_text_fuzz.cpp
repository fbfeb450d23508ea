// Key texts, signature files and base64 on arbitrary bytes: nothing may
// crash or throw; a text that decodes is the one canonical encoding of its
// bytes; a parsed key or signature is accepted exactly when the text inside
// its surrounding white space is base64 of the right number of bytes, and
// written out again it is that text and parses back to itself; any bytes of
// the right length survive being written out and parsed back.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "hash/base64.h"
#include "hash/signature.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\f\v";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

void checkBase64(std::string_view input) {
    if (const auto decoded = mendly::base64Decode(input); decoded) {
        require(mendly::base64Encode(*decoded) == input);
        const std::size_t padding = std::count(input.end() - std::min<std::size_t>(input.size(), 2), input.end(), '=');
        require(decoded->size() == input.size() / 4 * 3 - padding);
    }
    require(mendly::base64Decode(mendly::base64Encode(input)) == std::string(input));
}

template <std::size_t N>
void checkFixed(std::string_view input, std::optional<std::array<unsigned char, N>> (*parse)(std::string_view),
                std::string (*text)(const std::array<unsigned char, N>&)) {
    const auto parsed = parse(input);
    const auto decoded = mendly::base64Decode(trimmed(input));
    require(parsed.has_value() == (decoded && decoded->size() == N));
    if (parsed) {
        const std::string written = text(*parsed);
        require(written == trimmed(input));
        require(parse(written) == parsed);
        require(parse(" \r\n" + written + "\n\t") == parsed);
    }
    if (input.size() >= N) {
        std::array<unsigned char, N> raw{};
        std::copy_n(reinterpret_cast<const unsigned char*>(input.data()), N, raw.begin());
        const std::string written = text(raw);
        require(written.size() == (N + 2) / 3 * 4);
        require(parse(written) == raw);
    }
}

void checkSignatureFile(std::string_view input) {
    using mendly::SignatureCheck;
    const bool isSignature = mendly::parseSignatureText(input).has_value();
    require(mendly::checkSignature(input, std::string(input), {}) ==
            (isSignature ? SignatureCheck::NoTrustedKey : SignatureCheck::NoSignature));
    require(mendly::checkSignature(input, std::nullopt, {}) == SignatureCheck::NoSignature);
    // Arbitrary key and signature bytes over the rest: answered, whatever the answer.
    if (input.size() >= mendly::kPublicKeySize + mendly::kSignatureSize) {
        mendly::PublicKey key{};
        mendly::Signature signature{};
        const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
        std::copy_n(bytes, key.size(), key.begin());
        std::copy_n(bytes + key.size(), signature.size(), signature.begin());
        (void)mendly::verifySignature(input.substr(key.size() + signature.size()), signature, key);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkBase64(input);
    checkFixed<mendly::kPublicKeySize>(input, mendly::parsePublicKeyText, mendly::publicKeyText);
    checkFixed<mendly::kSignatureSize>(input, mendly::parseSignatureText, mendly::signatureText);
    checkSignatureFile(input);
    return 0;
}
