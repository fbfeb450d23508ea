// The conversions of the page's call arguments on arbitrary values. The input
// is parsed as JSON; a text that is not JSON becomes one string value holding
// its raw bytes (so invalid UTF-8 reaches the conversions too). The value and,
// for an array or object, each of its members are converted. Nothing may
// crash, hang or throw, and each conversion keeps its contract: an index is a
// number truncated toward zero or the documented fallback, the item maximum
// lies in 1..12, texts pass unchanged, and the feed call without a string URL
// answers "Invalid RSS URL" without items.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "log/text.h"
#include "model/bridge_json.h"
#include "model/news_feed.h"

namespace {

using namespace mendly;

// The index a number names: truncated toward zero when that fits 32 bits.
std::optional<std::int32_t> expectedIndex(const nlohmann::json& value) {
    long double n = 0;
    if (value.is_number_unsigned()) n = static_cast<long double>(value.get<std::uint64_t>());
    else if (value.is_number_integer()) n = static_cast<long double>(value.get<std::int64_t>());
    else n = std::trunc(static_cast<long double>(value.get<double>()));
    if (std::isnan(n) || n < INT32_MIN || n > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(n);
}

void checkArgument(const nlohmann::json& value) {
    const std::int32_t selected = selectServerIndex(value);
    const std::int32_t shortcut = shortcutIndex(value);
    if (value.is_number()) {
        const auto index = expectedIndex(value);
        if (selected != index.value_or(-1) || shortcut != index.value_or(-1)) std::abort();
    } else if (selected != 0 || shortcut != -1) {
        std::abort();
    }

    const std::string code = languageCode(value);
    if (value.is_string() ? code != value.get_ref<const std::string&>() : !code.empty()) std::abort();

    const auto url = urlArgument(value);
    if (url.has_value() != (value.is_string() && !value.get_ref<const std::string&>().empty())) std::abort();
    if (url && *url != toWide(value.get_ref<const std::string&>())) std::abort();

    const int limit = feedItemLimit(value);
    if (limit < 1 || limit > kMaximumFeedItems) std::abort();
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        const auto n = value.get<std::int64_t>();
        if (n >= 1 && n <= kMaximumFeedItems && limit != n) std::abort();
    }

    if (!value.is_string()) {
        // No download is attempted for a URL that is not a string.
        const auto result = fetchRssFeed(value, value);
        if (result.at("error") != "Invalid RSS URL" || !result.at("items").empty()) std::abort();
    }

    // Texts handed back to the page never fail to serialise, whatever their
    // bytes (the native side only ever serialises flat values it built).
    if (!value.is_structured()) {
        const std::string raw = value.is_string() ? value.get<std::string>() : compactJson(value);
        if (nlohmann::json::parse(compactJson(raw), nullptr, false).is_discarded()) std::abort();
        if (escapeHtmlAttribute(raw).find_first_of("\"<") != std::string::npos) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    nlohmann::json value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) value = std::string(text);

    checkArgument(value);
    if (value.is_structured())
        for (const auto& member : value) checkArgument(member);
    return 0;
}
