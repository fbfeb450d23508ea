#pragma once
// The news panels' RSS feeds: download, a small tolerant text scanner (not an
// XML parser) and the cleaning of the texts the page shows.
//
// Every function here works in time linear in its input: a hostile feed costs
// at most a few passes over its bytes. Items are capped at 12 per call, and
// every field the page gets is short, whatever the feed holds (the page lays
// out what it is given, and one long unbroken word costs it far more than its
// length): titles and summaries are cut to kMaxFeedTextBytes, a link longer
// than kMaxFeedLinkBytes and a date that does not read as a date (or is longer
// than kMaxFeedDateBytes) are left out. Entities only ever shrink the text.
//
// fetchRssFeed and loadFeed download and so belong on a worker thread (the
// bridge runs them on its feed pool); the other functions are pure. All are
// callable from any thread.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace mendly {

// UTF-8 texts as scanned (they may hold invalid UTF-8 where the feed does).
struct RssItem {
    std::string title;
    std::string link;
    std::string date;  // as the feed wrote it
    std::string summary;

    bool operator==(const RssItem&) const = default;
};

struct FeedResult {
    std::u16string error;  // empty on success
    std::vector<RssItem> items;
};

inline constexpr int kDefaultFeedItems = 6;
// Titles and summaries: longer ones are cut to 237 bytes and "...".
inline constexpr std::size_t kMaxFeedTextBytes = 240;
// A longer link is dropped (the item shows its title without a link): a cut
// link would lead somewhere else.
inline constexpr std::size_t kMaxFeedLinkBytes = 2048;
// A longer date is dropped; every date format read here fits well inside.
inline constexpr std::size_t kMaxFeedDateBytes = 64;
// The whole download of one feed, redirects included, from the page's call.
inline constexpr std::chrono::seconds kFeedDeadline{10};
// The error of a feed that did not arrive within its deadline.
inline constexpr char16_t kNewsUnavailable[] = u"News unavailable";
inline constexpr int kMaximumFeedItems = 12;

// The page's item count: a number truncated toward zero (any other value, and
// a number that is not a number, counts as 0); then 0 becomes 6, and anything
// above 12 or below 0 becomes 12.
int feedItemLimit(const nlohmann::json& maximum);

// The page function: {"error": text, "items": [{"title","link","date",
// "summary"}...]}, keys in that order, texts as valid UTF-8 (invalid bytes of
// the feed become U+FFFD). A url that is not a string gives the error
// "Invalid RSS URL" and no items. The download ends at `deadline` (steady
// clock); the two-argument form allows kFeedDeadline from now.
nlohmann::ordered_json fetchRssFeed(const nlohmann::json& url, const nlohmann::json& maximum,
                                    std::chrono::steady_clock::time_point deadline);
nlohmann::ordered_json fetchRssFeed(const nlohmann::json& url, const nlohmann::json& maximum);

// httpGet of `url` (not cancellable, ending at `deadline`) and parseRssItems
// of its body. The error is kNewsUnavailable once the deadline has passed,
// else the HTTP client's sentence, or "Could not load the news feed." when it
// gave none.
FeedResult loadFeed(std::u16string_view url, int maximum, std::chrono::steady_clock::time_point deadline);

// The items of a feed text in feed order: every "<item...>...</item>" whose
// title is not empty, until `maximum` items are collected. Fields as the
// header says: link trimmed and dropped when too long, date through feedDate
// (model/feed_date.h).
std::vector<RssItem> parseRssItems(std::string_view text, int maximum);

// The decoded content of the first "<tag...>...</tag>" in `body` (a longer tag
// name with the same beginning matches too); nothing when a marker is missing.
std::optional<std::string> extractTag(std::string_view body, std::string_view tag);

// The text inside a leading "<![CDATA[" up to the first "]]>" (the rest after
// it is dropped); any other text unchanged.
std::string unwrapCdata(std::string_view text);

// The "%amp;"-style misspellings of entities repaired to their characters.
std::string fixPercentEntities(std::string_view text);

// Named and numeric character references decoded, in up to four passes so
// that nested escapes such as "&amp;lt;" resolve.
std::string decodeEntities(std::string_view text);

// The UTF-8 bytes of a reference such as "&#8212;" or "&#x2014;" (at least
// four bytes, "&#" ... ";"); nothing when it names no code point up to 0x10FFFF.
std::optional<std::string> decodeNumericEntity(std::string_view entity);

// Markup dropped, line breaks and tabs as spaces, white space trimmed, and cut
// to 237 bytes + "..." when longer than kMaxFeedTextBytes (240).
std::string cleanFeedText(std::string_view text);

}  // namespace mendly
