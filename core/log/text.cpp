#include "log/text.h"

#include <array>
#include <cstdint>

namespace mendly {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}


}  // namespace

// Decodes well-formed UTF-8 (RFC 3629: no overlongs, no surrogates, nothing
// above U+10FFFF). An ill-formed sequence is replaced by one U+FFFD per maximal
// subpart, as Unicode recommends and the platform converters do.
std::u16string toWide(std::string_view utf8) {
    std::u16string out;
    if (utf8.empty()) return out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b0 = p[i];
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        int need = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1; cp = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2; cp = b0 & 0x0F;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3; cp = b0 & 0x07;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            appendUtf16(out, kReplacement);
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < need; ++k, ++j) {
            if (j >= n) { ok = false; break; }
            const unsigned char b = p[j];
            const unsigned char l = (k == 0) ? lo : 0x80;
            const unsigned char h = (k == 0) ? hi : 0xBF;
            if (b < l || b > h) { ok = false; break; }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (!ok) {
            appendUtf16(out, kReplacement);
            i = j;  // resume at the byte that broke the sequence
            continue;
        }
        appendUtf16(out, cp);
        i = j;
    }
    return out;
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    if (text.empty()) return out;
    out.reserve(text.size() + text.size() / 2);
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                const char32_t cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                                    (static_cast<char32_t>(text[i + 1]) - 0xDC00);
                appendUtf8(out, cp);
                ++i;
            } else {
                appendUtf8(out, kReplacement);
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

std::string asciiLowered(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = asciiLower(c);
    return out;
}

namespace {

// Per byte: 1 for 0-9 and a-f, 2 for A-F, 0 otherwise (records and manifests
// check hundreds of thousands of digest characters per run).
constexpr std::array<unsigned char, 256> kHexClass = [] {
    std::array<unsigned char, 256> table{};
    for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = 1;
    for (int c = 'a'; c <= 'f'; ++c) table[static_cast<std::size_t>(c)] = 1;
    for (int c = 'A'; c <= 'F'; ++c) table[static_cast<std::size_t>(c)] = 2;
    return table;
}();

}  // namespace

bool isHexText(std::string_view text, std::size_t length, bool lowerOnly) {
    if (text.size() != length) return false;
    unsigned char seen = 0;
    unsigned char missing = 0;
    for (const char c : text) {
        const unsigned char kind = kHexClass[static_cast<unsigned char>(c)];
        seen |= kind;
        missing |= static_cast<unsigned char>(kind == 0);
    }
    return missing == 0 && !(lowerOnly && (seen & 2));
}

std::u16string asciiLowered(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out) c = asciiLower(c);
    return out;
}

bool isWideSpace(char16_t c) {
    switch (c) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
        case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
        case 0x205F: case 0x3000: case 0x180E:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

std::u16string trimWide(std::u16string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isWideSpace(s[b])) ++b;
    while (e > b && isWideSpace(s[e - 1])) --e;
    return std::u16string(s.substr(b, e - b));
}

std::u16string toDecimal(long long value) {
    const std::string s = std::to_string(value);
    return std::u16string(s.begin(), s.end());
}

}  // namespace mendly
