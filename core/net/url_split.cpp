#include "net/url_split.h"

#include "log/text.h"
#include "net/http_sentences.h"
#include "net/network_error_table.h"
#include "net/url_check.h"

#include <algorithm>

namespace mendly {
namespace {

constexpr std::size_t kHostBuffer = 512;   // characters, including the terminating NUL
constexpr std::size_t kPathBuffer = 8192;
constexpr std::size_t kExtraBuffer = 2048;

bool fail(std::u16string& error, int code) {
    error = describeNetworkError(code);
    return false;
}

bool isSchemeChar(char16_t c, bool first) {
    const bool alpha = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    if (first) return alpha;
    return alpha || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

void appendEscaped(std::string& out, std::string_view utf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        if (b <= 0x20 || b >= 0x7F) {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0x0F]);
        } else {
            out.push_back(ch);
        }
    }
}

// Splits "host[:port]" (user info already removed). False when malformed.
bool splitHostPort(std::u16string_view hostPort, std::u16string& host, long& port) {
    std::size_t hostEnd = 0;
    if (!hostPort.empty() && hostPort.front() == u'[') {
        const auto close = hostPort.find(u']');
        if (close == std::u16string_view::npos) return false;
        hostEnd = close + 1;
    } else {
        hostEnd = hostPort.find(u':');
        if (hostEnd == std::u16string_view::npos) hostEnd = hostPort.size();
    }
    host.assign(hostPort.substr(0, hostEnd));
    port = 0;
    const auto rest = hostPort.substr(hostEnd);
    if (rest.empty()) return true;
    if (rest.front() != u':') return false;
    const auto digits = rest.substr(1);
    if (digits.size() > 5) return false;
    for (const char16_t c : digits) {
        if (c < u'0' || c > u'9') return false;
        port = port * 10 + (c - u'0');
    }
    return port <= 65535;
}

}  // namespace

bool splitUrl(std::u16string_view url, SplitUrl& out, std::u16string& error) {
    const int malformed = networkErrorCodes().malformedAddress;
    const auto schemeEnd = url.find(u"://");
    if (schemeEnd == std::u16string_view::npos || schemeEnd == 0) return fail(error, malformed);
    for (std::size_t i = 0; i < schemeEnd; ++i) {
        if (!isSchemeChar(url[i], i == 0)) return fail(error, malformed);
    }
    const std::u16string scheme = asciiLowered(url.substr(0, schemeEnd));
    if (scheme != u"http" && scheme != u"https") return fail(error, networkErrorCodes().unknownScheme);

    const auto rest = url.substr(schemeEnd + 3);
    const auto authorityEnd = std::min(rest.find_first_of(u"/?#"), rest.size());
    auto authority = rest.substr(0, authorityEnd);
    if (const auto at = authority.rfind(u'@'); at != std::u16string_view::npos) {
        authority = authority.substr(at + 1);
    }
    const auto target = rest.substr(authorityEnd);
    const auto pathEnd = std::min(target.find_first_of(u"?#"), target.size());
    const auto path = target.substr(0, pathEnd);
    const auto extra = target.substr(pathEnd);

    long port = 0;
    std::u16string host;
    if (!splitHostPort(authority, host, port) || host.empty()) return fail(error, malformed);
    if (host.size() >= kHostBuffer || path.size() >= kPathBuffer || extra.size() >= kExtraBuffer) {
        return fail(error, malformed);
    }

    out.secure = scheme == u"https";
    out.host = host;
    out.port = static_cast<std::uint16_t>(port != 0 ? port : (out.secure ? 443 : 80));
    out.path.assign(path.empty() ? std::u16string_view(u"/") : path);
    out.path += extra;

    std::string onRequestLine;
    if (path.empty()) {
        onRequestLine = "/";
    } else {
        appendEscaped(onRequestLine, toUtf8(path));
    }
    const auto query = extra.substr(0, std::min(extra.find(u'#'), extra.size()));
    appendEscaped(onRequestLine, toUtf8(query));

    std::string request = toUtf8(scheme) + "://" + toUtf8(host);
    if (port != 0) request += ":" + std::to_string(port);
    request += onRequestLine;
    // Let the platform's own parser have the last word, so that nothing that
    // it would refuse later is reported as a network failure.
    if (!platformAcceptsRequestUrl(request)) return fail(error, malformed);
    out.requestTarget = std::move(onRequestLine);
    out.requestUrl = std::move(request);
    return true;
}

}  // namespace mendly
