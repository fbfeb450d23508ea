#pragma once
// Conversions between the programs' UTF-16 text and UTF-8 bytes (files, JSON,
// log lines, network data). Explicit lengths: embedded NUL characters convert
// like any other. Invalid input never fails: each ill-formed sequence becomes
// U+FFFD, the way the platform converter does.
#include <string>
#include <string_view>

namespace mendly {

std::u16string toWide(std::string_view utf8);
std::string toUtf8(std::u16string_view text);

// ASCII-only case folding: the only kind of case-insensitive comparison the
// suite uses (names, paths, member names, digests). Never locale dependent.
char16_t asciiLower(char16_t c);
char asciiLower(char c);
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);
bool equalsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);
std::string asciiLowered(std::string_view s);
std::u16string asciiLowered(std::u16string_view s);
// True when `text` is exactly `length` hexadecimal digits (a digest or
// version as text); with `lowerOnly`, of the letters only a to f count.
bool isHexText(std::string_view text, std::size_t length, bool lowerOnly = false);

// White space as the wide-character classification counts it (iswspace in the
// "C" locale plus the Unicode spaces the platform counts), trimmed from both ends.
bool isWideSpace(char16_t c);
std::u16string trimWide(std::u16string_view s);

// Decimal text of a number, as UTF-16.
std::u16string toDecimal(long long value);

}  // namespace mendly
