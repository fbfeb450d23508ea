#pragma once
// The platform HTTP layer's own verdict on a request address that splitUrl
// has built (ASCII, escaped). Thread-safe.
//   POSIX:   libcurl's URL parser (url_check_posix.cpp).
//   Windows: WinHttpCrackUrl (url_check_win.cpp).
#include <string>

namespace mendly {

bool platformAcceptsRequestUrl(const std::string& requestUrl);

}  // namespace mendly
