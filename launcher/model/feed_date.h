#pragma once
// Reading the date of a news feed item. The page shows the date as the feed
// wrote it, so the text itself is kept; it only has to read as a date, which
// also bounds its length. Pure; any thread.
#include <optional>
#include <string>
#include <string_view>

namespace mendly {

// The date, white space trimmed, when the whole text reads as an RSS date
// ("[Tue,] 3 Sep 2025 [08:00[:00] [GMT|UT|UTC|EST...PDT|Z|A-Z|+0200]]", month
// names in any letter case, two- or four-digit year) or an ISO 8601 one
// ("2025-09-03[(T| )08:00[:00[.fraction]][Z|+02:00|+0200]]"), every field in
// range (day 1-31, hour 0-23, minute 0-59, second 0-60) and the trimmed text
// at most kMaxFeedDateBytes (news_feed.h) long; nothing otherwise.
std::optional<std::string> feedDate(std::string_view text);

}  // namespace mendly
