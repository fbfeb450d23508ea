#include "net/url_resolve.h"

#include <algorithm>
#include <vector>

namespace mendly {
namespace {

bool isAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// True when `text` starts with "scheme:".
bool hasScheme(std::u16string_view text) {
    if (text.empty() || !isAlpha(text[0])) return false;
    for (const char16_t c : text.substr(1)) {
        if (c == u':') return true;
        if (!isAlpha(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') return false;
    }
    return false;
}

std::u16string_view trimmed(std::u16string_view s) {
    const auto first = s.find_first_not_of(u" \t\r\n");
    if (first == std::u16string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(u" \t\r\n") - first + 1);
}

// A path with its "." and ".." segments worked out; ".." never climbs above
// the root.
std::u16string withoutDotSegments(std::u16string_view path) {
    std::vector<std::u16string_view> kept;
    std::size_t start = 1;  // the path starts with '/'
    bool endsInFolder = false;
    while (start <= path.size()) {
        const auto end = std::min(path.find(u'/', start), path.size());
        const auto segment = path.substr(start, end - start);
        endsInFolder = end == path.size() && (segment == u"." || segment == u"..");
        if (segment == u"..") {
            if (!kept.empty()) kept.pop_back();
        } else if (segment != u".") {
            kept.push_back(segment);
        }
        start = end + 1;
    }
    std::u16string out;
    for (const auto segment : kept) {
        out += u'/';
        out += segment;
    }
    if (out.empty() || endsInFolder) out += u'/';
    return out;
}

// Splits "/path?query#fragment" into its path and the rest.
std::pair<std::u16string_view, std::u16string_view> splitPath(std::u16string_view target) {
    const auto end = std::min(target.find_first_of(u"?#"), target.size());
    return {target.substr(0, end), target.substr(end)};
}

}  // namespace

std::optional<std::u16string> resolveReference(std::u16string_view base, std::u16string_view location) {
    location = trimmed(location);
    if (location.empty()) return std::nullopt;
    if (hasScheme(location)) return std::u16string(location);

    const auto schemeEnd = base.find(u"://");
    if (schemeEnd == std::u16string_view::npos) return std::nullopt;
    if (location.substr(0, 2) == u"//") return std::u16string(base.substr(0, schemeEnd + 1)) + std::u16string(location);

    const auto authorityEnd = std::min(base.find_first_of(u"/?#", schemeEnd + 3), base.size());
    const std::u16string origin(base.substr(0, authorityEnd));
    auto [basePath, baseRest] = splitPath(base.substr(authorityEnd));
    if (basePath.empty()) basePath = u"/";
    const auto baseQuery = baseRest.substr(0, std::min(baseRest.find(u'#'), baseRest.size()));

    if (location.front() == u'#') return origin + std::u16string(basePath) + std::u16string(baseQuery);
    if (location.front() == u'?') return origin + std::u16string(basePath) + std::u16string(location);
    auto [path, rest] = splitPath(location);
    std::u16string merged;
    if (path.empty()) {
        merged = basePath;
    } else if (path.front() == u'/') {
        merged = path;
    } else {
        merged = std::u16string(basePath.substr(0, basePath.rfind(u'/') + 1)) + std::u16string(path);
    }
    return origin + withoutDotSegments(merged) + std::u16string(rest);
}

}  // namespace mendly
