#pragma once
// A scripted HTTP/HTTPS server on 127.0.0.1 for tests.
//
// Each test says what every path answers: a handler of its own, a ready-made
// behaviour (status and body, redirect, stalls, cut-off bodies, dropped
// connections, slow or endless bodies) or files from a folder. Every request
// is recorded. The server listens on an OS-chosen port from construction and
// stops in its destructor; behaviours that wait (stalls, slow bodies) wake up
// when it stops, and none of them runs longer than its bound, so nothing
// outlives the test.
//
// Threads: configure routes before the requests that need them arrive (a route
// may be added or replaced at any time; each request sees the table as it was
// when it arrived). Handlers run on the server's worker threads, never on the
// test's thread; the query functions may be called from any thread.
//
// A program that links this server sets no_proxy/NO_PROXY to the loopback
// names at start-up, so a proxy in the environment never intercepts tests.
//
// HTTPS servers present a self-signed certificate for 127.0.0.1 and localhost,
// made once per process at run time. Clients do not trust it unless they are
// told to trust certificateFile().
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mendly::test {

struct LoopbackRequest {
    std::string method;
    std::string path;       // percent-decoded path without the query
    std::string target;     // the request target exactly as sent (path and query)
    std::string userAgent;  // empty when none was sent
    std::multimap<std::string, std::string> headers;
};

struct LoopbackReply {
    int status = 200;
    std::string body;
    std::string contentType = "application/octet-stream";
    std::vector<std::pair<std::string, std::string>> headers;
};

// A loopback TCP port nothing listens on at the moment of the call (the
// system's choice, released again).
std::uint16_t unusedLoopbackPort();

class LoopbackServer {
public:
    enum class Scheme { Http, Https };
    // Off: every answer closes its connection, so the server stops at once.
    // On: idle connections are kept for up to one second (which the destructor
    // may then wait for).
    enum class KeepAlive { Off, On };
    using Handler = std::function<void(const LoopbackRequest&, LoopbackReply&)>;

    // The longest any waiting behaviour waits when the server is not stopped first.
    static constexpr std::chrono::seconds kMaxWait{60};

    // `port` 0 lets the system choose; a fixed port is for programs built to
    // talk to one known loopback address.
    explicit LoopbackServer(Scheme scheme = Scheme::Http, KeepAlive keepAlive = KeepAlive::Off,
                            std::uint16_t port = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const;
    // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>", no trailing slash.
    std::string baseUrl() const;
    // baseUrl() + path (path begins with '/'), as UTF-8 and as UTF-16.
    std::string url(std::string_view path) const;
    std::u16string wideUrl(std::string_view path) const;

    // PEM file holding the certificate every HTTPS LoopbackServer presents.
    static std::filesystem::path certificateFile();

    // Paths match exactly, without the query. A later route for the same path
    // replaces the earlier one. Unrouted paths go to the served folders, then 404.
    void route(std::string path, Handler handler);

    // The given status, body and content type.
    void respond(std::string path, int status, std::string body,
                 std::string contentType = "application/octet-stream");
    // `status` (302 unless given) with Location: location and an empty body.
    void redirect(std::string path, std::string location, int status = 302);
    // Reads the request and never answers (no status line) until the server stops.
    void stallBeforeHeaders(std::string path);
    // Sends the headers with Content-Length: declaredLength and `sent`, then
    // sends nothing more until the server stops (the connection stays open).
    void stallMidBody(std::string path, std::string sent, std::size_t declaredLength);
    // Sends the headers with Content-Length: declaredLength and `sent`, then
    // closes the connection (declaredLength > sent.size()).
    void truncateBody(std::string path, std::string sent, std::size_t declaredLength);
    // Closes the connection as soon as the request is read, without any answer.
    void dropConnection(std::string path);
    // 200 with a body of `total` bytes (Content-Length) sent in chunks of
    // `chunkSize` every `interval`; total 0 means endless (chunked encoding).
    // The bytes are a repeating pattern; bytesSent() counts them.
    void streamBody(std::string path, std::size_t chunkSize, std::chrono::milliseconds interval,
                    std::size_t total = 0);
    // Serves the files below `folder` for paths below `urlPrefix` ("/" = all):
    // 200 with the file's bytes, 404 for anything else (folders, "..", missing).
    void serveFolder(std::filesystem::path folder, std::string urlPrefix = "/");

    // Every answer (routes and served folders alike) waits this long before
    // it is made, as a distant host's does; zero, the default, answers at once.
    void setAnswerDelay(std::chrono::milliseconds delay);
    // The most requests that were being answered at the same moment.
    std::size_t mostRequestsAtOnce() const;

    std::vector<LoopbackRequest> requests() const;
    std::size_t requestCount(std::string_view path) const;
    std::size_t totalRequests() const;
    // Body bytes that streamBody() routes have handed to the connection.
    std::size_t bytesSent(std::string_view path) const;
    // Waits until at least `count` requests for `path` arrived; false on time-out.
    bool waitForRequests(std::string_view path, std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace mendly::test
