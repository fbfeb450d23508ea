#include "net/url_check.h"

#include <curl/curl.h>

#include <memory>

namespace mendly {

bool platformAcceptsRequestUrl(const std::string& requestUrl) {
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    return parsed && curl_url_set(parsed.get(), CURLUPART_URL, requestUrl.c_str(), 0) == CURLUE_OK;
}

}  // namespace mendly
