#include "model/feed_date.h"

#include <array>
#include <cctype>

#include "model/news_feed.h"

namespace mendly {
namespace {

// A cursor over the date text; every reader moves it only on success.
struct DateScanner {
    std::string_view text;
    std::size_t at = 0;

    bool done() const { return at == text.size(); }
    bool take(char c) {
        if (at >= text.size() || text[at] != c) return false;
        ++at;
        return true;
    }
    void skipSpaces() {
        while (at < text.size() && text[at] == ' ') ++at;
    }
    // `min`..`max` decimal digits as a number; nothing (and no move) otherwise.
    std::optional<int> number(std::size_t min, std::size_t max) {
        std::size_t end = at;
        int value = 0;
        while (end < text.size() && end - at < max && std::isdigit(static_cast<unsigned char>(text[end])))
            value = value * 10 + (text[end++] - '0');
        if (end - at < min) return std::nullopt;
        at = end;
        return value;
    }
    // A run of ASCII letters, lower-cased.
    std::string word() {
        std::string out;
        while (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at])))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(text[at++])));
        return out;
    }
};

constexpr std::array<std::string_view, 12> kMonths{"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<std::string_view, 7> kDays{"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
constexpr std::array<std::string_view, 11> kZones{"gmt", "ut",  "utc", "est", "edt", "cst",
                                                  "cdt", "mst", "mdt", "pst", "pdt"};

template <std::size_t N>
bool isOneOf(std::string_view word, const std::array<std::string_view, N>& names) {
    for (const auto name : names)
        if (word == name) return true;
    return false;
}

// "HH:MM[:SS]".
bool readTime(DateScanner& s) {
    const auto hour = s.number(1, 2);
    if (!hour || *hour > 23 || !s.take(':')) return false;
    const auto minute = s.number(2, 2);
    if (!minute || *minute > 59) return false;
    if (!s.take(':')) return true;
    const auto second = s.number(2, 2);
    return second && *second <= 60;
}

// "+HHMM" or "+HH:MM" (either sign).
bool readOffset(DateScanner& s) {
    if (!s.take('+') && !s.take('-')) return false;
    const auto hours = s.number(2, 2);
    if (!hours || *hours > 23) return false;
    (void)s.take(':');
    const auto minutes = s.number(2, 2);
    return minutes && *minutes <= 59;
}

bool readRfcDate(DateScanner s) {
    if (std::isalpha(static_cast<unsigned char>(s.text[0]))) {
        if (!isOneOf(s.word(), kDays) || !s.take(',')) return false;
        s.skipSpaces();
    }
    const auto day = s.number(1, 2);
    if (!day || *day < 1 || *day > 31) return false;
    s.skipSpaces();
    if (!isOneOf(s.word(), kMonths)) return false;
    s.skipSpaces();
    const auto year = s.number(2, 4);
    if (!year || (*year >= 100 && *year < 1000)) return false;
    s.skipSpaces();
    if (s.done()) return true;
    if (!readTime(s)) return false;
    s.skipSpaces();
    if (s.done()) return true;
    if (readOffset(s)) return s.done();
    const std::string zone = s.word();
    return s.done() && (isOneOf(zone, kZones) || (zone.size() == 1 && zone != "j"));
}

bool readIsoDate(DateScanner s) {
    const auto year = s.number(4, 4);
    if (!year || !s.take('-')) return false;
    const auto month = s.number(2, 2);
    if (!month || *month < 1 || *month > 12 || !s.take('-')) return false;
    const auto day = s.number(2, 2);
    if (!day || *day < 1 || *day > 31) return false;
    if (s.done()) return true;
    if (!s.take('T') && !s.take(' ')) return false;
    if (!readTime(s)) return false;
    if (s.take('.') && !s.number(1, 9)) return false;
    if (s.done()) return true;
    if (s.take('Z')) return s.done();
    return readOffset(s) && s.done();
}

}  // namespace

std::optional<std::string> feedDate(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    if (text.empty() || text.size() > kMaxFeedDateBytes) return std::nullopt;
    if (!readRfcDate(DateScanner{text}) && !readIsoDate(DateScanner{text})) return std::nullopt;
    return std::string(text);
}

}  // namespace mendly
