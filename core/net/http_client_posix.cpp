// httpGetStream on libcurl, one reused easy handle per thread.
#include "net/http_client.h"

#include "log/text.h"
#include "net/curl_handle.h"
#include "net/http_sentences.h"
#include "net/http_settings.h"
#include "net/transfer_pace.h"
#include "net/url_split.h"
#include "platform/socket.h"

#include <curl/curl.h>

#include <cstring>
#include <new>

namespace mendly {
namespace {

constexpr const char* kUserAgent = "mendly-launcher/1";
constexpr long kMaxRedirects = 10;

// Why a callback stopped the transfer. Decided on libcurl's thread (the
// caller's), read after curl_easy_perform returns.
enum class Stop { None, Cancelled, Status, OutOfMemory, Sink, TimedOut };

struct Transfer {
    CURL* handle = nullptr;
    const HttpBodySink* sink = nullptr;
    std::u16string sinkError;  // the sink's sentence when it stopped the transfer
    const std::atomic<bool>* cancel = nullptr;
    TransferRateLimit* rateLimit = nullptr;
    const std::function<void(std::uint64_t)>* onDeclaredLength = nullptr;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    TransferPace pace{httpStallTimeout(), kHttpMinimumBytesPerWindow};
    bool onHttps = false;       // scheme of the address being answered
    bool finalHeaders = false;  // the headers of a 200 response are complete
    bool bodyStarted = false;   // the body's first piece has arrived
    std::string location;       // Location header of the response being read
    Stop stop = Stop::None;
    long stopStatus = 0;
};

bool cancelRequested(const Transfer& t) {
    return t.cancel != nullptr && t.cancel->load(std::memory_order_relaxed);
}

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// Decides at the end of each response's headers whether the transfer goes on:
// 200 reads the body (unless cancelled), a redirect that will be followed
// continues, anything else stops before its body is read.
bool headersComplete(Transfer& t) {
    long status = 0;
    curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 100 && status < 200) return true;  // an interim answer; the real one follows
    if (status == 200) {
        t.finalHeaders = true;
        if (cancelRequested(t)) {
            t.stop = Stop::Cancelled;
            return false;
        }
        return true;
    }
    if (status >= 300 && status < 400 && !t.location.empty()) {
        const bool toHttp = startsWithIgnoreCase(t.location, "http:");
        if (!(t.onHttps && toHttp)) {
            if (startsWithIgnoreCase(t.location, "https:")) t.onHttps = true;
            t.location.clear();
            return true;
        }
    }
    t.stop = Stop::Status;
    t.stopStatus = status;
    return false;
}

// Past the deadline, or too little arrived lately: the transfer has timed out.
bool outOfTime(Transfer& t) {
    const auto now = std::chrono::steady_clock::now();
    if (now < t.deadline && !t.pace.stalled(now)) return false;
    t.stop = Stop::TimedOut;
    return true;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t n = size * count;
    t.pace.received(n);
    const std::string_view line(data, n);
    if (startsWithIgnoreCase(line, "HTTP/")) {
        t.location.clear();
        t.finalHeaders = false;
    } else if (startsWithIgnoreCase(line, "Location:")) {
        t.location = trimmed(line.substr(std::strlen("Location:")));
    } else if (line == "\r\n" || line == "\n") {
        if (!headersComplete(t)) return 0;
    }
    return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (!t.finalHeaders) {
        // A body for a status headersComplete() let through (a redirect that
        // libcurl decided not to follow after all): that status is the answer.
        long status = 0;
        curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status);
        t.stop = Stop::Status;
        t.stopStatus = status;
        return 0;
    }
    if (cancelRequested(t) || (t.rateLimit != nullptr && !t.rateLimit->take(n, t.cancel))) {
        t.stop = Stop::Cancelled;
        return 0;
    }
    t.pace.received(n);
    if (outOfTime(t)) return 0;
    try {
        if (!t.bodyStarted) {
            t.bodyStarted = true;
            curl_off_t declared = -1;
            if (*t.onDeclaredLength &&
                curl_easy_getinfo(t.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared) == CURLE_OK && declared >= 0)
                (*t.onDeclaredLength)(static_cast<std::uint64_t>(declared));
        }
        if (!(*t.sink)(std::string_view(data, n), t.sinkError)) {
            t.stop = Stop::Sink;
            return 0;
        }
    } catch (const std::bad_alloc&) {
        t.stop = Stop::OutOfMemory;
        return 0;
    }
    return n;
}

// Also called (about once a second) while no data arrives, so a cancel, the
// deadline and the stall rule reach a silent or trickling connection.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& t = *static_cast<Transfer*>(user);
    if (t.finalHeaders && cancelRequested(t)) {
        t.stop = Stop::Cancelled;
        return 1;
    }
    return outOfTime(t) ? 1 : 0;
}

// Every connection's socket is close-on-exec: a program we start (keelswap,
// the game) must not hold our connections for its lifetime.
curl_socket_t openSocket(void*, curlsocktype, curl_sockaddr* address) {
    const int fd = platform::openPrivateSocket(address->family, address->socktype, address->protocol);
    return fd < 0 ? CURL_SOCKET_BAD : static_cast<curl_socket_t>(fd);
}

// A connection is made or reused and the request is about to go out.
int onConnected(void* user, char*, char*, int, int) {
    static_cast<Transfer*>(user)->pace.restart(std::chrono::steady_clock::now());
    return CURL_PREREQFUNC_OK;
}

CURLcode configure(Transfer& t, const SplitUrl& url) {
    CURL* h = t.handle;
    const auto stall = httpStallTimeout();
    const std::string trusted = httpTrustedCertificatesFile();
    CURLcode rc = CURLE_OK;
    auto set = [&rc](CURLcode r) {
        if (rc == CURLE_OK) rc = r;
    };
    set(curl_easy_setopt(h, CURLOPT_URL, url.requestUrl.c_str()));
    set(curl_easy_setopt(h, CURLOPT_HTTPGET, 1L));
    set(curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent));
    // HTTP/2 when an https host offers it (many small files then share one
    // connection's streams); HTTP/1.1 otherwise.
    set(curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS)));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects));
    set(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, url.secure ? "https" : "http,https"));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    // A proxy tunnel's own "200 Connection established" is not the answer.
    set(curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L));
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, static_cast<long>(kHttpConnectTimeout.count())));
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall.count())));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L));
    if (!trusted.empty()) set(curl_easy_setopt(h, CURLOPT_CAINFO, trusted.c_str()));
    set(curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader));
    set(curl_easy_setopt(h, CURLOPT_HEADERDATA, &t));
    set(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody));
    set(curl_easy_setopt(h, CURLOPT_WRITEDATA, &t));
    set(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &onProgress));
    set(curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t));
    set(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L));
    set(curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &onConnected));
    set(curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &openSocket));
    set(curl_easy_setopt(h, CURLOPT_PREREQDATA, &t));
    return rc;
}

// The sentence for a transfer that did not end with a complete 200 body.
std::u16string describeFailure(const Transfer& t, CURLcode rc) {
    switch (t.stop) {
        case Stop::Cancelled:
            return u"Cancelled";
        case Stop::Status:
            return describeHttpStatus(t.stopStatus);
        case Stop::OutOfMemory:
            return describeOutOfMemory();
        case Stop::TimedOut:
            return describeNetworkError(CURLE_OPERATION_TIMEDOUT);
        case Stop::Sink:
            return t.sinkError.empty() ? describeNetworkError(CURLE_WRITE_ERROR) : t.sinkError;
        case Stop::None:
            break;
    }
    long status = 0;
    curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status);
    if (rc == CURLE_OK) return describeHttpStatus(status);
    // libcurl refuses a redirect it may not follow (another scheme, too many
    // hops) after the 3xx arrived: that status is the answer.
    if ((rc == CURLE_UNSUPPORTED_PROTOCOL || rc == CURLE_TOO_MANY_REDIRECTS) && status >= 300 && status < 400) {
        return describeHttpStatus(status);
    }
    // The address passed splitUrl, so a protocol refusal now means the server
    // did not answer in HTTP.
    if (rc == CURLE_UNSUPPORTED_PROTOCOL) return describeUnexpectedResponse(rc);
    if (rc == CURLE_OUT_OF_MEMORY) return describeOutOfMemory();
    return describeNetworkError(rc);
}

// The same decision as describeFailure, as a value.
HttpFailure failureOf(const Transfer& t, CURLcode rc) {
    switch (t.stop) {
        case Stop::Cancelled: return {HttpFailure::Kind::Cancelled, 0, 0};
        case Stop::Status: return statusFailure(t.stopStatus);
        case Stop::TimedOut: return networkFailure(CURLE_OPERATION_TIMEDOUT);
        case Stop::OutOfMemory:
        case Stop::Sink: return {HttpFailure::Kind::Body, 0, 0};
        case Stop::None: break;
    }
    long status = 0;
    curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status);
    if (rc == CURLE_OK) return statusFailure(status);
    if ((rc == CURLE_UNSUPPORTED_PROTOCOL || rc == CURLE_TOO_MANY_REDIRECTS) && status >= 300 && status < 400)
        return statusFailure(status);
    if (rc == CURLE_OUT_OF_MEMORY) return {HttpFailure::Kind::Body, 0, 0};
    return networkFailure(rc);
}

}  // namespace

bool httpGetStream(std::u16string_view url, const HttpBodySink& sink, std::u16string& error,
                   const HttpRequestOptions& options, HttpFailure& failure) {
    SplitUrl parts;
    if (!splitUrl(url, parts, error)) {
        failure = {HttpFailure::Kind::Address, 0, 0};
        return false;
    }

    Transfer t;
    t.handle = threadEasyHandle();
    if (t.handle == nullptr) {
        error = describeNetworkError(CURLE_FAILED_INIT);
        failure = networkFailure(CURLE_FAILED_INIT);
        return false;
    }
    t.sink = &sink;
    t.cancel = options.cancel;
    t.rateLimit = options.rateLimit;
    t.onDeclaredLength = &options.onDeclaredLength;
    t.deadline = options.deadline;
    t.onHttps = parts.secure;

    CURLcode rc = configure(t, parts);
    if (rc == CURLE_OK) rc = curl_easy_perform(t.handle);

    long status = 0;
    curl_easy_getinfo(t.handle, CURLINFO_RESPONSE_CODE, &status);
    if (rc == CURLE_OK && t.stop == Stop::None && status == 200) return true;
    error = describeFailure(t, rc);
    failure = failureOf(t, rc);
    return false;
}

}  // namespace mendly
