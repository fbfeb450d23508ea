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
    // What goes on the request line: path and query (never the fragment),
    // "/" when the path is empty. Spaces, control characters, DEL and
    // non-ASCII bytes are percent-encoded (%XX, upper-case hex, of the UTF-8
    // bytes), the way the platform escapes unsafe characters; existing
    // escapes stay. ASCII only.
    std::string requestTarget;
    // The whole request address in UTF-8: lower-case scheme, host, explicit
    // port if any, then requestTarget.
    std::string requestUrl;
};

// On failure `error` holds "The download address is invalid. (error N)" with
// N the platform's number for a scheme other than http/https or for a
// malformed or too long address (net/network_error_table.h), and `out` is
// unspecified.
[[nodiscard]] bool splitUrl(std::u16string_view url, SplitUrl& out, std::u16string& error);

}  // namespace mendly
