#pragma once
// Splitting an absolute http/https URL for httpGet.
//
// The parts must fit the buffers the download client has always used: the
// host below 512 characters, the path below 8,192 and the extra part (query
// and fragment) below 2,048, counted in UTF-16 units. A URL that does not fit,
// is malformed or names another scheme fails with the invalid-address
// sentence. User name and password are dropped; the fragment is never sent.
#include <cstdint>
#include <string>
#include <string_view>

namespace mendly {

struct SplitUrl {
    bool secure = false;          // https
    std::u16string host;          // as written; an IPv6 literal keeps its brackets
    std::uint16_t port = 0;       // the default port (443 / 80) when the URL gives none or 0
    std::u16string path;          // path + query + fragment as written; "/" when empty
    // The UTF-8 URL handed to libcurl: lower-case scheme, host, explicit port
    // if any, path and query. Spaces, control characters, DEL and non-ASCII
    // bytes of the path and query are percent-encoded (%XX, upper-case hex),
    // the way the platform escapes unsafe characters; existing escapes stay.
    std::string requestUrl;
};

// On failure `error` holds "The download address is invalid. (error N)" with
// N = 1 (scheme other than http/https) or 3 (malformed or too long), and
// `out` is unspecified.
[[nodiscard]] bool splitUrl(std::u16string_view url, SplitUrl& out, std::u16string& error);

}  // namespace mendly
