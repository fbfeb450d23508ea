#include "model/server_version.h"

#include "log/text.h"

namespace mendly {
namespace {

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr std::string_view kVersionPrefix = "KaltrisNexum-";

}  // namespace

std::u16string formatServerVersion(std::string_view bytes) {
    if (bytes.empty()) return kVersionNone;
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);

    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            text += '\n';
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else if (c == '\\' && i + 1 < bytes.size() && bytes[i + 1] == 'n') {
            text += '\n';
            ++i;
        } else if (c == '\t') {
            text += ' ';
        } else {
            text += c;
        }
    }

    std::string_view view = text;
    while (!view.empty() && isAsciiSpace(view.front())) view.remove_prefix(1);
    while (!view.empty() && isAsciiSpace(view.back())) view.remove_suffix(1);
    if (view.starts_with(kVersionPrefix)) view.remove_prefix(kVersionPrefix.size());
    if (view.empty()) return kVersionNone;
    return toWide(view);
}

std::string_view versionShownName(VersionShown shown) {
    switch (shown) {
        case VersionShown::Loading: return "loading";
        case VersionShown::Known: return "known";
        case VersionShown::Unavailable: return "unavailable";
        case VersionShown::None: break;
    }
    return "none";
}

EntryStatus entryStatusOf(std::u16string_view local, std::u16string_view published) {
    if (published.empty()) return kStatusUndetermined;
    return local == published ? kStatusUpToDate : kStatusOutOfDate;
}

bool acceptsStatusResult(std::int32_t checkGeneration, std::size_t statusCount, std::int32_t generation,
                         std::int32_t index) {
    return generation == checkGeneration && index >= 0 && static_cast<std::size_t>(index) < statusCount;
}

bool acceptsVersionResult(std::int32_t selected, std::int32_t index) {
    return index == selected;
}

}  // namespace mendly
