// The news feed scanner on arbitrary feed text: parseRssItems and the text
// helpers it is built from. The first input byte picks the item maximum
// (1 to 12, as the page function hands it on); the rest is the feed.
// Besides never crashing, hanging or throwing, the cheap promises must hold:
// never more items than asked for, no item without a title, cleaned texts of
// at most 240 bytes without markup, line breaks or surrounding white space,
// entity decoding that never grows the text, and page texts that are valid
// UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "log/text.h"
#include "model/news_feed.h"

namespace {

using namespace mendly;

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void checkCleanText(const std::string& text) {
    if (text.size() > 240) std::abort();
    if (text.find_first_of("<>\r\n\t") != std::string::npos) std::abort();
    if (!text.empty() && (isAsciiSpace(text.front()) || isAsciiSpace(text.back()))) std::abort();
    if (cleanFeedText(text) != text) std::abort();  // cleaning twice changes nothing
}

// What fetchRssFeed hands the page for one text: through UTF-16 and back.
void checkPageText(const std::string& text) {
    const std::string page = toUtf8(toWide(text));
    (void)nlohmann::json(page).dump();  // throws (and the fuzzer reports it) on invalid UTF-8
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int maximum = 1 + data[0] % kMaximumFeedItems;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    const auto items = parseRssItems(text, maximum);
    if (items.size() > static_cast<std::size_t>(maximum)) std::abort();
    for (const RssItem& item : items) {
        if (item.title.empty()) std::abort();
        checkCleanText(item.title);
        checkCleanText(item.summary);
        if (item.link.size() > text.size() || item.date.size() > text.size()) std::abort();
        checkPageText(item.title);
        checkPageText(item.link);
        checkPageText(item.date);
        checkPageText(item.summary);
    }

    // The helpers on the whole text as well.
    const std::string clean = cleanFeedText(text);
    checkCleanText(clean);

    const std::string decoded = decodeEntities(text);
    if (decoded.size() > text.size()) std::abort();
    if (text.find_first_of("&%$") == std::string_view::npos && decoded != text) std::abort();

    const std::string unwrapped = unwrapCdata(text);
    if (!text.starts_with("<![CDATA[")) {
        if (unwrapped != text) std::abort();
    } else {
        if (text.substr(9, unwrapped.size()) != unwrapped) std::abort();
        if (unwrapped.find("]]>") != std::string::npos) std::abort();
    }

    if (const auto character = decodeNumericEntity(text)) {
        if (character->empty() || character->size() > 4 || character->size() > text.size()) std::abort();
    }
    return 0;
}
