#pragma once
// The one network operation: an HTTP(S) GET of a whole resource into memory.
//
// Success is exactly status 200 with the whole body received. On failure the
// body is empty and `error` holds one sentence for the user ending in
// " (HTTP <status>)" or " (error <code>)" (the sentences are listed in
// net/http_sentences.h; <code> is the platform's own error number), or exactly "Cancelled"
// for a cancellation and nothing else. On success `error` is left as it was.
//
// Behaviour of every request: user agent "mendly-launcher/1", HTTP/2 over
// https when the host offers it (else HTTP/1.1), no
// other headers added (no compression asked for); certificates verified against
// the system store; ordinary redirects followed (at most 10), never from https
// to http: a redirect that is not followed ends as its own 3xx status. Connect
// time-out 60 s; once connected, the transfer is abandoned when fewer than
// 1,024 bytes arrive in any 30 s window, a trickle being a stall ("The
// connection timed out..."). No retries.
//
// Threads: synchronous; any number of calls may run at once from different
// threads, each with its own body and error.
//
// Platforms:
//   POSIX (libcurl): each thread reuses one easy handle (and its open
//     connections) between its calls; error numbers are CURLcode values.
//   Windows (WinHTTP): each call opens and closes its own session; error
//     numbers are ERROR_WINHTTP_* values. HTTP/2 only where the system's
//     WinHTTP offers it. Certificates are always checked against the system
//     store (the test knob for another trusted certificate has no effect).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/http_failure.h"
#include "net/rate_limit.h"

namespace mendly {

// `cancel` may be null (not cancellable); it is only read. It is honoured once
// the final response's headers are in and its status is 200: before each piece
// of the body and while waiting for the next one. A cancel set earlier still
// lets a non-200 answer report its status sentence.
//
// httpGet is for documents (manifests, version texts, update information,
// feeds): a body longer than kHttpDocumentLimit fails with
// describeDocumentTooLarge's sentence instead of exhausting memory.
[[nodiscard]] bool httpGet(std::u16string_view url, std::string& body, std::u16string& error,
                           const std::atomic<bool>* cancel);
[[nodiscard]] bool httpGet(std::u16string_view url, std::string& body, std::u16string& error);

inline constexpr std::uint64_t kHttpDocumentLimit = 256ull << 20;
// Documents other than patch manifests: update information, signatures,
// version texts, feeds.
inline constexpr std::uint64_t kHttpSmallDocumentLimit = 1ull << 20;
// Fewer bytes than this in any stall window (30 s) abandon a transfer.
inline constexpr std::uint64_t kHttpMinimumBytesPerWindow = 1024;

// What a request may cost. `cancel` as above; `deadline` (steady clock) ends
// the whole request, redirects included, with the time-out sentence;
// `documentLimit` is httpGet's body limit in bytes (whole MiB); `rateLimit`
// (may be null: no limit) is shared with the other transfers of a run, and
// every piece of the body waits its turn there before the sink sees it (a
// cancel ends the wait as a cancellation).
struct HttpRequestOptions {
    const std::atomic<bool>* cancel = nullptr;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::uint64_t documentLimit = kHttpDocumentLimit;
    TransferRateLimit* rateLimit = nullptr;
    // Called once, on the requesting thread, before the first piece of a 200
    // answer's body, with the length the answer declares; not called when it
    // declares none. A hint only: the body may still end shorter or run on.
    std::function<void(std::uint64_t declaredLength)> onDeclaredLength;
};

[[nodiscard]] bool httpGet(std::u16string_view url, std::string& body, std::u16string& error,
                           const HttpRequestOptions& options);
// The same, also saying how a failed request ended (`failure` is set on
// failure only; on success it is left as it was).
[[nodiscard]] bool httpGet(std::u16string_view url, std::string& body, std::u16string& error,
                           const HttpRequestOptions& options, HttpFailure& failure);

// Options for a small document (version text, feed, signature): not
// cancellable, no deadline, at most kHttpSmallDocumentLimit bytes.
inline HttpRequestOptions smallDocumentRequest() {
    HttpRequestOptions options;
    options.documentLimit = kHttpSmallDocumentLimit;
    return options;
}

// Receives a 200 answer's body in pieces as they arrive, on the calling
// thread. Returning false stops the transfer; the sink then puts the sentence
// the caller should get into `error` (empty: a generic write-failure sentence).
using HttpBodySink = std::function<bool(std::string_view piece, std::u16string& error)>;

// The streaming form of httpGet, for files of any size: the body goes to
// `sink` as it arrives and nothing of it is kept here. Same requests,
// sentences, time-outs, redirects and cancellation as httpGet. On failure the
// sink may already have received part of the body; the caller discards it.
[[nodiscard]] bool httpGetStream(std::u16string_view url, const HttpBodySink& sink, std::u16string& error,
                                 const std::atomic<bool>* cancel);
[[nodiscard]] bool httpGetStream(std::u16string_view url, const HttpBodySink& sink, std::u16string& error,
                                 const HttpRequestOptions& options);
// With how a failed request ended, as for httpGet. Each platform provides this one.
[[nodiscard]] bool httpGetStream(std::u16string_view url, const HttpBodySink& sink, std::u16string& error,
                                 const HttpRequestOptions& options, HttpFailure& failure);

}  // namespace mendly
