// The parts of the client that are the same on every platform: the
// convenience forms and httpGet's in-memory body over httpGetStream, which
// each platform provides (http_client_posix.cpp, http_client_win.cpp).
#include "net/http_client.h"

#include "net/http_sentences.h"

#include <algorithm>

namespace mendly {
namespace {

// A Content-Length is only a hint: never reserve more than this up front.
constexpr std::size_t kMaxReserve = 64 * 1024 * 1024;

}  // namespace

bool httpGetStream(std::u16string_view url, const HttpBodySink& sink, std::u16string& error,
                   const std::atomic<bool>* cancel) {
    HttpRequestOptions options;
    options.cancel = cancel;
    return httpGetStream(url, sink, error, options);
}

bool httpGet(std::u16string_view url, std::string& body, std::u16string& error,
             const std::atomic<bool>* cancel) {
    HttpRequestOptions options;
    options.cancel = cancel;
    return httpGet(url, body, error, options);
}

bool httpGetStream(std::u16string_view url, const HttpBodySink& sink, std::u16string& error,
                   const HttpRequestOptions& options) {
    HttpFailure failure;
    return httpGetStream(url, sink, error, options, failure);
}

bool httpGet(std::u16string_view url, std::string& body, std::u16string& error,
             const HttpRequestOptions& options) {
    HttpFailure failure;
    return httpGet(url, body, error, options, failure);
}

bool httpGet(std::u16string_view url, std::string& body, std::u16string& error,
             const HttpRequestOptions& options, HttpFailure& failure) {
    body.clear();
    const std::uint64_t limit = options.documentLimit;
    HttpRequestOptions own = options;
    // The declared length is only a hint, and capped: the body is still
    // taken piece by piece against the limit.
    own.onDeclaredLength = [&](std::uint64_t declared) {
        if (options.onDeclaredLength) options.onDeclaredLength(declared);
        body.reserve(static_cast<std::size_t>(std::min<std::uint64_t>({declared, limit, kMaxReserve})));
    };
    const HttpBodySink append = [&](std::string_view piece, std::u16string& sinkError) {
        if (piece.size() > limit - body.size()) {
            sinkError = describeDocumentTooLarge(limit);
            return false;
        }
        body.append(piece);
        return true;
    };
    if (httpGetStream(url, append, error, own, failure)) return true;
    std::string().swap(body);
    return false;
}

bool httpGet(std::u16string_view url, std::string& body, std::u16string& error) {
    return httpGet(url, body, error, nullptr);
}

}  // namespace mendly
