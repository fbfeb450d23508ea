// httpGetStream on WinHTTP, in the service's asynchronous mode: the calling
// thread starts each step (send, receive the headers, ask what is available,
// read) and waits for its completion a little at a time, so that a cancel,
// the deadline and the stall rule also reach a connection that has gone
// silent. Redirects are followed here rather than by WinHTTP, so that
// relative locations, the limit of 10, and the refusal to go from https to
// http behave the same on every system. WinHTTP's own handles and sockets
// are never inherited by programs we start.
#include "net/http_client.h"

#include "net/http_sentences.h"
#include "net/http_settings.h"
#include "net/network_error_table.h"
#include "net/transfer_pace.h"
#include "net/url_resolve.h"
#include "net/url_split.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <new>
#include <vector>

namespace mendly {
namespace {

constexpr wchar_t kUserAgent[] = L"mendly-launcher/1";
constexpr DWORD kMaxRedirects = 10;
constexpr DWORD kReadPiece = 256 * 1024;  // the most bytes asked for in one read
// How long the calling thread waits for a step before it looks at the cancel
// flag, the deadline and the stall rule again.
constexpr std::chrono::milliseconds kWatchInterval{250};

// What WinHTTP's notifications report. Written on WinHTTP's threads, read on
// the calling thread, always under `mutex`. Heap-allocated, one per request
// handle, and freed after the handle's last notification (closing): by the
// calling thread if that came before the thread let go of it, else by the
// notification itself.
struct Notifications {
    std::mutex mutex;
    std::condition_variable changed;
    bool stepDone = false;     // the step last started has completed
    DWORD stepError = 0;       // its failure code; 0 when it succeeded
    DWORD stepCount = 0;       // bytes available or read
    bool requestGoingOut = false;  // a connection is made or reused and a request is sent on it
    bool closed = false;           // no further notification will come
    bool abandoned = false;        // the calling thread has let go; closing frees
};

// Records one notification; false for those that are not waited for.
bool record(Notifications& n, DWORD status, LPVOID info, DWORD infoLength) {
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
            n.requestGoingOut = true;
            return true;
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            n.stepDone = true;
            return true;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            n.stepCount = *static_cast<const DWORD*>(info);
            n.stepDone = true;
            return true;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            n.stepCount = infoLength;
            n.stepDone = true;
            return true;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            n.stepError = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError;
            if (n.stepError == 0) n.stepError = ERROR_WINHTTP_INTERNAL_ERROR;
            n.stepDone = true;
            return true;
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            n.closed = true;
            return true;
        default:
            return false;
    }
}

void CALLBACK onNotification(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength) {
    auto* n = reinterpret_cast<Notifications*>(context);
    if (n == nullptr) return;
    bool last = false;
    {
        const std::lock_guard lock(n->mutex);
        if (!record(*n, status, info, infoLength)) return;
        last = n->closed && n->abandoned;
        if (!last) n->changed.notify_all();
    }
    if (last) delete n;
}

// Why the transfer did not end with a complete 200 body.
enum class Stop { None, PlatformError, Status, Cancelled, TimedOut, Sink, OutOfMemory };

// One request, on the calling thread.
struct Transfer {
    explicit Transfer(const HttpRequestOptions& o) : options(o) {}

    const HttpRequestOptions& options;
    Notifications* notes = nullptr;  // the current request's
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    bool notifying = false;  // the request handle has our notification callback
    TransferPace pace{httpStallTimeout(), kHttpMinimumBytesPerWindow};
    bool inBody = false;     // the final answer is a 200 and its body is being read
    DWORD count = 0;         // the last step's byte count
    std::uint64_t bodyBytes = 0;
    Stop stop = Stop::None;
    DWORD error = 0;         // with Stop::PlatformError
    DWORD status = 0;        // the last answer's HTTP status
    std::u16string sinkError;
};

bool fail(Transfer& t, DWORD error) {
    t.stop = Stop::PlatformError;
    t.error = error;
    return false;
}

bool cancelRequested(const Transfer& t) {
    return t.inBody && t.options.cancel != nullptr && t.options.cancel->load(std::memory_order_relaxed);
}

// Past the deadline, or too little arrived lately.
bool outOfTime(Transfer& t) {
    const auto now = std::chrono::steady_clock::now();
    if (now < t.options.deadline && !t.pace.stalled(now)) return false;
    t.stop = Stop::TimedOut;
    return true;
}

// Checked while a step is pending.
bool shouldStop(Transfer& t) {
    if (cancelRequested(t)) {
        t.stop = Stop::Cancelled;
        return true;
    }
    return outOfTime(t);
}

// Starts one asynchronous step with `start` and waits for it. False when it
// failed or was stopped (the reason is in t.stop); t.count holds its bytes.
template <typename Start>
bool runStep(Transfer& t, Start start) {
    Notifications& n = *t.notes;
    {
        const std::lock_guard lock(n.mutex);
        n.stepDone = false;
        n.stepError = 0;
        n.stepCount = 0;
    }
    if (!start()) return fail(t, GetLastError());
    for (;;) {
        std::unique_lock lock(n.mutex);
        const bool done = n.changed.wait_for(lock, kWatchInterval, [&] { return n.stepDone; });
        if (n.requestGoingOut) {
            n.requestGoingOut = false;
            t.pace.restart(std::chrono::steady_clock::now());
        }
        if (done) {
            if (n.stepError != 0) return fail(t, n.stepError);
            t.count = n.stepCount;
            return true;
        }
        lock.unlock();
        if (shouldStop(t)) return false;
    }
}

void setDword(HINTERNET handle, DWORD option, DWORD value) {
    // Options the system's WinHTTP may not know (HTTP/2 on older systems)
    // are left at their defaults.
    WinHttpSetOption(handle, option, &value, sizeof(value));
}

std::wstring wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

bool openSession(Transfer& t) {
    t.session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (t.session == nullptr) return fail(t, GetLastError());
    // HTTP/2 when the host offers it (many small files then share one
    // connection); HTTP/1.1 otherwise.
    setDword(t.session, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, WINHTTP_PROTOCOL_FLAG_HTTP2);
    return true;
}

// Opens the connection and request for one address (the first or a
// redirect's), with their own notification state.
bool openRequest(Transfer& t, const SplitUrl& url) {
    t.notes = new Notifications;
    t.notifying = false;
    std::u16string_view host = url.host;
    if (host.size() >= 2 && host.front() == u'[' && host.back() == u']') host = host.substr(1, host.size() - 2);
    t.connection = WinHttpConnect(t.session, wide(host).c_str(), url.port, 0);
    if (t.connection == nullptr) return fail(t, GetLastError());
    // The target is already escaped exactly as it must go out.
    const std::wstring target(url.requestTarget.begin(), url.requestTarget.end());
    DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
    if (url.secure) flags |= WINHTTP_FLAG_SECURE;
    t.request = WinHttpOpenRequest(t.connection, L"GET", target.c_str(), nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (t.request == nullptr) return fail(t, GetLastError());

    auto context = reinterpret_cast<DWORD_PTR>(t.notes);
    if (!WinHttpSetOption(t.request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
        return fail(t, GetLastError());
    }
    const DWORD wanted = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                         WINHTTP_CALLBACK_FLAG_SEND_REQUEST;
    if (WinHttpSetStatusCallback(t.request, &onNotification, wanted, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        return fail(t, GetLastError());
    }
    t.notifying = true;

    setDword(t.request, WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_NEVER);
    setDword(t.request, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
    // The stall rule (checked here) decides when a quiet connection has timed
    // out; WinHTTP's own send and receive limits are only a backstop behind it.
    // (The rule may need up to a second more than its window to notice.)
    const auto backstop = 2 * httpStallTimeout() + std::chrono::seconds(5);
    const int backstopMs = static_cast<int>(std::chrono::milliseconds(backstop).count());
    const int connectMs = static_cast<int>(std::chrono::milliseconds(kHttpConnectTimeout).count());
    if (!WinHttpSetTimeouts(t.request, 0, connectMs, backstopMs, backstopMs)) return fail(t, GetLastError());
    return true;
}

// Sends the request and waits for the answer's headers; t.status is its status.
bool receiveHeaders(Transfer& t) {
    const auto context = reinterpret_cast<DWORD_PTR>(t.notes);
    if (!runStep(t, [&] {
            return WinHttpSendRequest(t.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                      context);
        })) {
        return false;
    }
    // The request is out, so the connection is made: the stall window starts.
    t.pace.restart(std::chrono::steady_clock::now());
    if (!runStep(t, [&] { return WinHttpReceiveResponse(t.request, nullptr); })) return false;
    DWORD size = sizeof(t.status);
    if (!WinHttpQueryHeaders(t.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &t.status, &size, WINHTTP_NO_HEADER_INDEX)) {
        return fail(t, GetLastError());
    }
    return true;
}

// The declared body length; nothing when the answer declares none.
std::optional<std::uint64_t> contentLength(const Transfer& t) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(t.request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const wchar_t* c = text;
    if (*c == L'\0') return std::nullopt;
    for (; *c != L'\0'; ++c) {
        if (*c < L'0' || *c > L'9' || value > (UINT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(*c - L'0');
    }
    return value;
}

// The value of the answer's Location header; empty when there is none.
std::u16string locationHeader(const Transfer& t) {
    DWORD size = 0;
    WinHttpQueryHeaders(t.request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (!WinHttpQueryHeaders(t.request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    return std::u16string(buffer.begin(), buffer.begin() + size / sizeof(wchar_t));
}

bool isRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where the current answer sends us, if we go: a redirect status with a
// location that resolves to http or https, not from https to http, and not
// past the limit. Nothing means the status is the answer.
std::optional<SplitUrl> nextHop(const Transfer& t, std::u16string& url, bool secure, DWORD hopsSoFar) {
    if (!isRedirect(t.status) || hopsSoFar >= kMaxRedirects) return std::nullopt;
    const auto target = resolveReference(url, locationHeader(t));
    if (!target) return std::nullopt;
    SplitUrl parts;
    std::u16string ignored;
    if (!splitUrl(*target, parts, ignored) || (secure && !parts.secure)) return std::nullopt;
    url = *target;
    return parts;
}

// The body ended: a body shorter than its declared length means that the
// connection was lost on the way, which the service itself does not always
// report.
bool bodyComplete(Transfer& t) {
    const auto declared = contentLength(t);
    if (declared && *declared != t.bodyBytes) return fail(t, ERROR_WINHTTP_CONNECTION_ERROR);
    return true;
}

// Reads the body into `sink` piece by piece until the end.
bool readBody(Transfer& t, const HttpBodySink& sink) {
    std::vector<char> buffer(kReadPiece);
    if (t.options.onDeclaredLength)
        if (const auto declared = contentLength(t)) t.options.onDeclaredLength(*declared);
    for (;;) {
        if (cancelRequested(t)) {
            t.stop = Stop::Cancelled;
            return false;
        }
        if (!runStep(t, [&] { return WinHttpQueryDataAvailable(t.request, nullptr); })) return false;
        if (t.count == 0) return bodyComplete(t);
        const DWORD want = std::min(t.count, kReadPiece);
        if (!runStep(t, [&] { return WinHttpReadData(t.request, buffer.data(), want, nullptr); })) return false;
        if (t.count == 0) return bodyComplete(t);
        t.bodyBytes += t.count;
        if (t.options.rateLimit != nullptr && !t.options.rateLimit->take(t.count, t.options.cancel)) {
            t.stop = Stop::Cancelled;
            return false;
        }
        t.pace.received(t.count);
        if (outOfTime(t)) return false;
        if (!sink(std::string_view(buffer.data(), t.count), t.sinkError)) {
            t.stop = Stop::Sink;
            return false;
        }
    }
}

// Closes the request and its connection. The notification state is freed
// here when closing has already been notified, else handed to the closing
// notification (a request closed while a step is pending may be confirmed
// only once the service gives that step up).
void closeRequest(Transfer& t) {
    if (t.request != nullptr) WinHttpCloseHandle(t.request);
    if (t.connection != nullptr) WinHttpCloseHandle(t.connection);
    bool freeHere = !t.notifying;
    if (t.notifying) {
        const std::lock_guard lock(t.notes->mutex);
        freeHere = t.notes->closed;
        t.notes->abandoned = true;
    }
    if (freeHere) delete t.notes;
    t.notes = nullptr;
    t.request = nullptr;
    t.connection = nullptr;
    t.notifying = false;
}

// Requests `url` and follows its redirects; the body of the final 200 goes
// to `sink`.
bool fetch(Transfer& t, std::u16string url, SplitUrl parts, const HttpBodySink& sink) {
    for (DWORD hops = 0;; ++hops) {
        if (!openRequest(t, parts) || !receiveHeaders(t)) return false;
        if (t.status == 200) {
            t.inBody = true;
            return readBody(t, sink);
        }
        auto next = nextHop(t, url, parts.secure, hops);
        if (!next) {
            t.stop = Stop::Status;
            return false;
        }
        closeRequest(t);
        parts = std::move(*next);
    }
}

bool isOutOfMemory(DWORD error) { return error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY; }

std::u16string describeFailure(const Transfer& t) {
    switch (t.stop) {
        case Stop::Cancelled:
            return u"Cancelled";
        case Stop::Status:
            return describeHttpStatus(static_cast<long>(t.status));
        case Stop::TimedOut:
            return describeNetworkError(networkErrorCodes().timedOut);
        case Stop::OutOfMemory:
            return describeOutOfMemory();
        case Stop::Sink:
            return t.sinkError.empty() ? describeNetworkError(networkErrorCodes().writeFailed) : t.sinkError;
        case Stop::PlatformError:
            if (isOutOfMemory(t.error)) return describeOutOfMemory();
            return describeNetworkError(static_cast<int>(t.error));
        case Stop::None:
            break;
    }
    return describeNetworkError(ERROR_WINHTTP_INTERNAL_ERROR);
}

// The same decision as describeFailure, as a value.
HttpFailure failureOf(const Transfer& t) {
    switch (t.stop) {
        case Stop::Cancelled: return {HttpFailure::Kind::Cancelled, 0, 0};
        case Stop::Status: return statusFailure(static_cast<long>(t.status));
        case Stop::TimedOut: return networkFailure(networkErrorCodes().timedOut);
        case Stop::OutOfMemory:
        case Stop::Sink: return {HttpFailure::Kind::Body, 0, 0};
        case Stop::PlatformError:
            if (isOutOfMemory(t.error)) return {HttpFailure::Kind::Body, 0, 0};
            return networkFailure(static_cast<int>(t.error));
        case Stop::None: break;
    }
    return networkFailure(ERROR_WINHTTP_INTERNAL_ERROR);
}

}  // namespace

bool httpGetStream(std::u16string_view url, const HttpBodySink& sink, std::u16string& error,
                   const HttpRequestOptions& options, HttpFailure& failure) {
    SplitUrl parts;
    if (!splitUrl(url, parts, error)) {
        failure = {HttpFailure::Kind::Address, 0, 0};
        return false;
    }
    Transfer t(options);
    bool ok = false;
    try {
        ok = openSession(t) && fetch(t, std::u16string(url), std::move(parts), sink);
    } catch (const std::bad_alloc&) {
        t.stop = Stop::OutOfMemory;
        ok = false;
    }
    closeRequest(t);
    if (t.session != nullptr) WinHttpCloseHandle(t.session);
    if (!ok) {
        error = describeFailure(t);
        failure = failureOf(t);
    }
    return ok;
}

}  // namespace mendly
