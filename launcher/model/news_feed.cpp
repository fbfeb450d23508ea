#include "model/news_feed.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "log/text.h"
#include "model/feed_date.h"
#include "net/http_client.h"

namespace mendly {
namespace {

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A reference spans at most 13 bytes: the ";" lies at most 12 bytes after the "&".
constexpr std::size_t kMaxEntityReach = 12;
constexpr int kDecodePasses = 4;
constexpr std::size_t kMaxCleanText = kMaxFeedTextBytes;
constexpr std::size_t kCutCleanText = kMaxFeedTextBytes - 3;

constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kPercentEntities{{
    {"%amp;", "&"},
    {"%lt;", "<"},
    {"%gt;", ">"},
    {"%quot;", "\""},
    {"%apos;", "'"},
    {"%nbsp;", " "},
    {"$nbsp;", " "},
}};

constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kNamedEntities{{
    {"&amp;", "&"},
    {"&lt;", "<"},
    {"&gt;", ">"},
    {"&quot;", "\""},
    {"&apos;", "'"},
    {"&nbsp;", " "},
    {"&mdash;", "\xE2\x80\x94"},
    {"&ndash;", "\xE2\x80\x93"},
}};

std::string replaceAll(std::string_view text, std::string_view pattern, std::string_view replacement) {
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (auto at = text.find(pattern); at != std::string_view::npos; at = text.find(pattern, from)) {
        out.append(text.substr(from, at - from));
        out.append(replacement);
        from = at + pattern.size();
    }
    out.append(text.substr(from));
    return out;
}

int digitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value < base ? value : -1;
}

// The C library's unsigned-long reading with a 32-bit unsigned long, as the
// launcher's platform has it: leading white space skipped, an optional sign (a
// minus negates modulo 2^32), an optional "0x" in base 16, digits up to the
// first byte that is none. Nothing when there are no digits or the value does
// not fit in 32 bits.
std::optional<std::uint32_t> readUnsignedLong(std::string_view s, int base) {
    std::size_t i = 0;
    while (i < s.size() && isAsciiSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (base == 16 && i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
        digitValue(s[i + 2], 16) >= 0)
        i += 2;
    std::uint64_t value = 0;
    bool anyDigit = false;
    for (; i < s.size(); ++i) {
        const int digit = digitValue(s[i], base);
        if (digit < 0) break;
        anyDigit = true;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) return std::nullopt;  // out of range
    }
    if (!anyDigit) return std::nullopt;
    if (negative) value = (0x100000000u - value) & 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(value);
}

// Code point as UTF-8, surrogates included (they become U+FFFD when the text
// is converted for the page).
std::string encodeUtf8(std::uint32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

std::optional<std::string> decodeEntity(std::string_view entity) {
    for (const auto& [name, text] : kNamedEntities)
        if (entity == name) return std::string(text);
    return decodeNumericEntity(entity);
}

// One left-to-right pass; true in `changed` when anything was replaced.
// Replacement text is not rescanned. The ";" is only looked for within reach
// of its "&", so a run of lone "&" costs linear time.
std::string decodePass(std::string_view text, bool& changed) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto amp = text.find('&', i);
        if (amp == std::string_view::npos) break;
        out.append(text.substr(i, amp - i));
        const auto reach = text.substr(amp + 1, kMaxEntityReach);
        const auto semi = reach.find(';');
        if (semi == std::string_view::npos) {
            out += '&';
            i = amp + 1;
            continue;
        }
        const auto entity = text.substr(amp, semi + 2);
        if (const auto decoded = decodeEntity(entity)) {
            out += *decoded;
            changed = true;
        } else {
            out.append(entity);
        }
        i = amp + entity.size();
    }
    if (i < text.size()) out.append(text.substr(i));
    return out;
}

nlohmann::ordered_json itemJson(const RssItem& item) {
    // Through UTF-16 and back: the page gets valid UTF-8 whatever the feed held.
    const auto clean = [](const std::string& s) { return toUtf8(toWide(s)); };
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["title"] = clean(item.title);
    object["link"] = clean(item.link);
    object["date"] = clean(item.date);
    object["summary"] = clean(item.summary);
    return object;
}

// The link without surrounding white space; empty when it is too long to be
// shown whole.
std::string feedLink(std::string_view text) {
    while (!text.empty() && isAsciiSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isAsciiSpace(text.back())) text.remove_suffix(1);
    return text.size() > kMaxFeedLinkBytes ? std::string() : std::string(text);
}

}  // namespace

int feedItemLimit(const nlohmann::json& maximum) {
    long long count = 0;
    if (maximum.is_number_integer()) {
        count = maximum.is_number_unsigned() && maximum.get<std::uint64_t>() > 0x7FFFFFFFu
                    ? kMaximumFeedItems + 1
                    : maximum.get<long long>();
    } else if (maximum.is_number_float()) {
        const double value = maximum.get<double>();
        if (std::isnan(value)) count = 0;
        else if (value >= 2147483648.0) count = kMaximumFeedItems + 1;
        else if (value <= -2147483649.0) count = -1;
        else count = static_cast<long long>(std::trunc(value));
    }
    if (count == 0) return kDefaultFeedItems;
    if (count > kMaximumFeedItems || count < 0) return kMaximumFeedItems;
    return static_cast<int>(count);
}

nlohmann::ordered_json fetchRssFeed(const nlohmann::json& url, const nlohmann::json& maximum) {
    return fetchRssFeed(url, maximum, std::chrono::steady_clock::now() + kFeedDeadline);
}

nlohmann::ordered_json fetchRssFeed(const nlohmann::json& url, const nlohmann::json& maximum,
                                    std::chrono::steady_clock::time_point deadline) {
    nlohmann::ordered_json result = nlohmann::ordered_json::object();
    if (!url.is_string()) {
        result["error"] = "Invalid RSS URL";
        result["items"] = nlohmann::ordered_json::array();
        return result;
    }
    const auto feed = loadFeed(toWide(url.get_ref<const std::string&>()), feedItemLimit(maximum), deadline);
    result["error"] = toUtf8(feed.error);
    result["items"] = nlohmann::ordered_json::array();
    for (const auto& item : feed.items) result["items"].push_back(itemJson(item));
    return result;
}

FeedResult loadFeed(std::u16string_view url, int maximum, std::chrono::steady_clock::time_point deadline) {
    FeedResult result;
    std::string body;
    std::u16string error;
    if (std::chrono::steady_clock::now() >= deadline) {  // waited too long for a worker
        result.error = kNewsUnavailable;
        return result;
    }
    HttpRequestOptions options = smallDocumentRequest();
    options.deadline = deadline;
    if (!httpGet(url, body, error, options)) {
        if (std::chrono::steady_clock::now() >= deadline)
            result.error = kNewsUnavailable;
        else
            result.error = error.empty() ? u"Could not load the news feed." : error;
        return result;
    }
    result.items = parseRssItems(body, maximum);
    return result;
}

std::vector<RssItem> parseRssItems(std::string_view text, int maximum) {
    std::vector<RssItem> items;
    std::size_t position = 0;
    do {
        const auto open = text.find("<item", position);
        if (open == std::string_view::npos) break;
        const auto bodyStart = text.find('>', open);
        if (bodyStart == std::string_view::npos) break;
        const auto close = text.find("</item>", bodyStart + 1);
        if (close == std::string_view::npos) break;
        const auto body = text.substr(bodyStart + 1, close - bodyStart - 1);
        position = close;

        RssItem item;
        item.title = cleanFeedText(extractTag(body, "title").value_or(std::string()));
        item.link = feedLink(extractTag(body, "link").value_or(std::string()));
        item.date = feedDate(extractTag(body, "pubDate").value_or(std::string())).value_or(std::string());
        item.summary = cleanFeedText(extractTag(body, "description").value_or(std::string()));
        if (!item.title.empty()) items.push_back(std::move(item));

        position += 7;  // past "</item>"
    } while (items.size() < static_cast<std::size_t>(maximum > 0 ? maximum : 0));
    return items;
}

std::optional<std::string> extractTag(std::string_view body, std::string_view tag) {
    const auto open = body.find("<" + std::string(tag));
    if (open == std::string_view::npos) return std::nullopt;
    const auto contentStart = body.find('>', open);
    if (contentStart == std::string_view::npos) return std::nullopt;
    const auto close = body.find("</" + std::string(tag) + ">", contentStart + 1);
    if (close == std::string_view::npos) return std::nullopt;
    return decodeEntities(unwrapCdata(body.substr(contentStart + 1, close - contentStart - 1)));
}

std::string unwrapCdata(std::string_view text) {
    constexpr std::string_view kOpen = "<![CDATA[";
    if (text.size() < kOpen.size() || !text.starts_with(kOpen)) return std::string(text);
    text.remove_prefix(kOpen.size());
    return std::string(text.substr(0, text.find("]]>")));
}

std::string fixPercentEntities(std::string_view text) {
    std::string out(text);
    for (const auto& [pattern, replacement] : kPercentEntities) {
        if (out.find(pattern) != std::string::npos) out = replaceAll(out, pattern, replacement);
    }
    return out;
}

std::string decodeEntities(std::string_view text) {
    std::string current = fixPercentEntities(text);
    for (int pass = 0; pass < kDecodePasses; ++pass) {
        bool changed = false;
        auto next = decodePass(current, changed);
        if (!changed) break;
        current = std::move(next);
    }
    return current;
}

std::optional<std::string> decodeNumericEntity(std::string_view entity) {
    if (entity.size() < 4 || !entity.starts_with("&#") || !entity.ends_with(";")) return std::nullopt;
    const bool hex = entity.size() > 4 && (entity[2] == 'x' || entity[2] == 'X');
    const auto digits = hex ? entity.substr(3, entity.size() - 4) : entity.substr(2, entity.size() - 3);
    const auto value = readUnsignedLong(digits, hex ? 16 : 10);
    if (!value || *value > 0x10FFFF) return std::nullopt;
    return encodeUtf8(*value);
}

std::string cleanFeedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool inMarkup = false;
    for (const char c : text) {
        if (inMarkup) {
            if (c == '>') inMarkup = false;
        } else if (c == '<') {
            inMarkup = true;
        } else if (c != '>') {
            out += (c == '\r' || c == '\t' || c == '\n') ? ' ' : c;
        }
    }
    std::size_t begin = 0;
    std::size_t end = out.size();
    while (begin < end && isAsciiSpace(out[begin])) ++begin;
    while (end > begin && isAsciiSpace(out[end - 1])) --end;
    out = out.substr(begin, end - begin);
    if (out.size() > kMaxCleanText) {
        out.resize(kCutCleanText);
        out += "...";
    }
    return out;
}

}  // namespace mendly
