#include "hash/base64.h"

#include <array>
#include <cstdint>

namespace mendly {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> decodeTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto kDecode = decodeTable();

}  // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                                (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                                static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (left == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = (text.size() >= 2 && text[text.size() - 2] == '=') ? 2 : 1;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const std::size_t digits = last ? 4 - padding : 4;
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            std::int8_t d = 0;
            if (k < digits) {
                d = kDecode[static_cast<unsigned char>(text[i + k])];
                if (d < 0) return std::nullopt;
            }
            v = (v << 6) | static_cast<std::uint32_t>(d);
        }
        // Bits under the padding must be zero, so each text has one decoding.
        if (digits == 3 && (v & 0xFF) != 0) return std::nullopt;
        if (digits == 2 && (v & 0xFFFF) != 0) return std::nullopt;
        out += static_cast<char>((v >> 16) & 0xFF);
        if (digits >= 3) out += static_cast<char>((v >> 8) & 0xFF);
        if (digits == 4) out += static_cast<char>(v & 0xFF);
    }
    return out;
}

}  // namespace mendly
