// httpGet and httpGetStream on WinHTTP against a scripted loopback server in
// this process: statuses, redirects, lost connections, the stall rule, the
// deadline, the size limit and cancellation, with WinHTTP's error numbers.
#include "net/http_client.h"

#include "log/text.h"
#include "net/http_testing.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace mendly {
namespace {

using namespace std::chrono_literals;

// The few Winsock calls the server needs, looked up at run time so that the
// test program needs no import library beyond the client's own.
struct Winsock {
    Winsock() {
        module = LoadLibraryW(L"ws2_32.dll");
        load(startup, "WSAStartup");
        load(open, "socket");
        load(bindTo, "bind");
        load(listenOn, "listen");
        load(nameOf, "getsockname");
        load(acceptOn, "accept");
        load(receive, "recv");
        load(sendOn, "send");
        load(shut, "shutdown");
        load(close, "closesocket");
        WSADATA data;
        ready = startup != nullptr && close != nullptr && startup(MAKEWORD(2, 2), &data) == 0;
    }
    template <typename F>
    void load(F& f, const char* name) {
        f = module == nullptr ? nullptr
                              : reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    }
    // Sends all of `bytes`; false once the client has gone.
    bool sendAll(SOCKET s, std::string_view bytes) const {
        while (!bytes.empty()) {
            const int n = sendOn(s, bytes.data(), static_cast<int>(bytes.size()), 0);
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    HMODULE module = nullptr;
    bool ready = false;
    int(WINAPI* startup)(WORD, WSADATA*) = nullptr;
    SOCKET(WINAPI* open)(int, int, int) = nullptr;
    int(WINAPI* bindTo)(SOCKET, const sockaddr*, int) = nullptr;
    int(WINAPI* listenOn)(SOCKET, int) = nullptr;
    int(WINAPI* nameOf)(SOCKET, sockaddr*, int*) = nullptr;
    SOCKET(WINAPI* acceptOn)(SOCKET, sockaddr*, int*) = nullptr;
    int(WINAPI* receive)(SOCKET, char*, int, int) = nullptr;
    int(WINAPI* sendOn)(SOCKET, const char*, int, int) = nullptr;
    int(WINAPI* shut)(SOCKET, int) = nullptr;
    int(WINAPI* close)(SOCKET) = nullptr;
};

const Winsock& winsock() {
    static const Winsock w;
    return w;
}

// A loopback HTTP/1.1 server, one request per connection, each answered on
// its own thread by the handler registered for the request's path.
class ScriptedServer {
public:
    struct Request {
        std::string target;
        std::string head;  // request line and headers
    };
    using Handler = std::function<void(SOCKET, const Request&)>;

    ScriptedServer() {
        const Winsock& w = winsock();
        listener_ = w.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = 0x0100007f;  // 127.0.0.1 in network order
        int length = sizeof(address);
        w.bindTo(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        w.listenOn(listener_, 64);
        w.nameOf(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = (address.sin_port & 0xff) << 8 | (address.sin_port >> 8);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~ScriptedServer() {
        winsock().close(listener_);
        acceptor_.join();
        {
            // Handlers still waiting on a client that went quiet end now.
            const std::lock_guard lock(mutex_);
            for (const SOCKET s : open_) winsock().shut(s, SD_BOTH);
        }
        for (auto& t : connections_) t.join();
    }

    void on(const std::string& path, Handler handler) { handlers_[path] = std::move(handler); }
    std::u16string url(std::string_view target) const {
        return toWide("http://127.0.0.1:" + std::to_string(port_) + std::string(target));
    }
    std::vector<Request> requests() const {
        const std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void acceptLoop() {
        for (;;) {
            const SOCKET s = winsock().acceptOn(listener_, nullptr, nullptr);
            if (s == INVALID_SOCKET) return;
            connections_.emplace_back([this, s] { serve(s); });
        }
    }
    void serve(SOCKET s) {
        {
            const std::lock_guard lock(mutex_);
            open_.push_back(s);
        }
        answerOne(s);
        const std::lock_guard lock(mutex_);
        open_.erase(std::find(open_.begin(), open_.end(), s));
        winsock().shut(s, SD_BOTH);
        winsock().close(s);
    }
    void answerOne(SOCKET s) {
        Request request;
        char buffer[4096];
        while (request.head.find("\r\n\r\n") == std::string::npos) {
            const int n = winsock().receive(s, buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            request.head.append(buffer, static_cast<std::size_t>(n));
        }
        const auto firstSpace = request.head.find(' ');
        request.target = request.head.substr(firstSpace + 1, request.head.find(' ', firstSpace + 1) - firstSpace - 1);
        {
            const std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        const auto path = request.target.substr(0, request.target.find('?'));
        const auto handler = handlers_.find(path);
        if (handler != handlers_.end()) handler->second(s, request);
    }

    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::map<std::string, Handler> handlers_;
    std::thread acceptor_;
    std::vector<std::thread> connections_;  // joined at the end
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::vector<SOCKET> open_;  // connections being answered
};

std::string head(int status, std::uint64_t length, const std::string& extra = {}) {
    return "HTTP/1.1 " + std::to_string(status) + " Whatever\r\nContent-Length: " + std::to_string(length) +
           "\r\nConnection: close\r\n" + extra + "\r\n";
}

ScriptedServer::Handler answer(int status, std::string body, std::string extra = {}) {
    return [=](SOCKET s, const ScriptedServer::Request&) { winsock().sendAll(s, head(status, body.size(), extra) + body); };
}

ScriptedServer::Handler redirect(int status, std::string location) {
    return answer(status, "", "Location: " + location + "\r\n");
}

// Declares a huge body and sends `piece` every `pause` until the client goes.
ScriptedServer::Handler stream(std::string piece, std::chrono::milliseconds pause) {
    return [=](SOCKET s, const ScriptedServer::Request&) {
        if (!winsock().sendAll(s, head(200, std::uint64_t{1} << 40))) return;
        while (winsock().sendAll(s, piece)) std::this_thread::sleep_for(pause);
    };
}

// Sends the headers and `sent` bytes of a longer body, then waits for the
// client to give up.
ScriptedServer::Handler stallAfter(std::size_t sent) {
    return [=](SOCKET s, const ScriptedServer::Request&) {
        winsock().sendAll(s, head(200, sent + 1000) + std::string(sent, 'x'));
        char byte;
        while (winsock().receive(s, &byte, 1, 0) > 0) {
        }
    };
}

std::u16string withCode(std::u16string_view sentence, int code) {
    return std::u16string(sentence) + u" (error " + toDecimal(code) + u")";
}

constexpr std::u16string_view kTimedOut = u"The connection timed out. Check your internet connection and try again.";

class WinHttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(winsock().ready); }
    void TearDown() override { setHttpStallTimeoutForTesting(30s); }

    bool get(std::string_view target, const HttpRequestOptions& options = {}) {
        body = "left over";
        return httpGet(server.url(target), body, error, options);
    }
    void expectFailure(bool ok, std::u16string_view expected) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(toUtf8(error), toUtf8(expected));
        EXPECT_TRUE(body.empty());
    }

    ScriptedServer server;
    std::string body;
    std::u16string error = u"untouched";
};

TEST_F(WinHttpClientTest, StatusesOtherThan200EndWithTheirSentence) {
    const struct {
        int status;
        const char16_t* expected;
    } cases[] = {
        {404, u"That file is not on the server right now (HTTP 404)"},
        {403, u"The server refused the download (HTTP 403)"},
        {503, u"The server ran into a problem. Try again later (HTTP 503)"},
        {206, u"The server could not complete the download (HTTP 206)"},
        {302, u"The server could not complete the download (HTTP 302)"},  // no Location
    };
    for (const auto& c : cases) {
        server.on("/" + std::to_string(c.status), answer(c.status, "a page about it"));
        expectFailure(get("/" + std::to_string(c.status)), c.expected);
    }
}

TEST_F(WinHttpClientTest, OkBodiesArriveWholeAndTheErrorIsLeftAsItWas) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) ^ (i >> 9));
    server.on("/big", answer(200, big));
    server.on("/empty", answer(200, ""));
    ASSERT_TRUE(get("/big")) << toUtf8(error);
    EXPECT_TRUE(body == big);
    ASSERT_TRUE(get("/empty"));
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(error, u"untouched");
}

TEST_F(WinHttpClientTest, SendsTheUserAgentPathAndQueryAndNothingElse) {
    server.on("/files/list.txt", answer(200, "ok"));
    ASSERT_TRUE(get("/files/list.txt?v=3&lang=en#part")) << toUtf8(error);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/files/list.txt?v=3&lang=en");
    EXPECT_NE(requests[0].head.find("User-Agent: mendly-launcher/1\r\n"), std::string::npos);
    EXPECT_EQ(requests[0].head.find("Accept-Encoding"), std::string::npos);
}

TEST_F(WinHttpClientTest, RedirectsAreFollowedUpToTenTimesWithinHttpAndHttps) {
    server.on("/a/old", redirect(301, "new"));
    server.on("/a/new", answer(200, "relative"));
    server.on("/loop", redirect(307, "/loop"));
    server.on("/ftp", redirect(302, "ftp://127.0.0.1/file"));
    ASSERT_TRUE(get("/a/old")) << toUtf8(error);
    EXPECT_EQ(body, "relative");
    expectFailure(get("/loop"), u"The server could not complete the download (HTTP 307)");
    expectFailure(get("/ftp"), u"The server could not complete the download (HTTP 302)");
    std::size_t loops = 0;
    for (const auto& r : server.requests()) loops += r.target == "/loop" ? 1 : 0;
    EXPECT_EQ(loops, 11u);  // the first request and ten redirects
}

TEST_F(WinHttpClientTest, LostAndRefusedConnectionsGiveWinHttpNumbers) {
    server.on("/cut", [](SOCKET s, const ScriptedServer::Request&) {
        winsock().sendAll(s, head(200, 5000) + std::string(1000, 'x'));
    });
    expectFailure(get("/cut"),
                  withCode(u"The connection dropped before the download finished. Try again in a moment.", 12030));
    body = "stale";
    expectFailure(httpGet(u"http://127.0.0.1:1/file", body, error),
                  withCode(u"Could not connect to the server. Check your internet connection and try again.", 12029));
    body = "stale";
    expectFailure(httpGet(u"http://patch-host.invalid/file", body, error),
                  withCode(u"Could not find the server. Check your internet connection and try again.", 12007));
}

TEST_F(WinHttpClientTest, SilenceATrickleAndTheDeadlineTimeOut) {
    setHttpStallTimeoutForTesting(1s);
    server.on("/silent", stallAfter(0));
    server.on("/stalled", stallAfter(4096));
    server.on("/trickle", stream("ab", 100ms));
    server.on("/endless", stream(std::string(64 * 1024, 'z'), 10ms));
    expectFailure(get("/silent"), withCode(kTimedOut, 12002));
    expectFailure(get("/stalled"), withCode(kTimedOut, 12002));
    expectFailure(get("/trickle"), withCode(kTimedOut, 12002));

    setHttpStallTimeoutForTesting(30s);
    HttpRequestOptions options;
    options.deadline = std::chrono::steady_clock::now() + 1s;
    options.documentLimit = std::uint64_t{1} << 40;
    expectFailure(get("/endless", options), withCode(kTimedOut, 12002));
}

TEST_F(WinHttpClientTest, ADocumentStopsAtItsLimitAndASinkAtItsWord) {
    server.on("/endless", stream(std::string(64 * 1024, 'z'), 1ms));
    expectFailure(get("/endless", smallDocumentRequest()),
                  u"The server sent more than the 1 MB allowed for this download");
    const HttpBodySink refuse = [](std::string_view, std::u16string& sinkError) {
        sinkError = u"The disk is full.";
        return false;
    };
    EXPECT_FALSE(httpGetStream(server.url("/endless"), refuse, error, nullptr));
    EXPECT_EQ(error, u"The disk is full.");
}

TEST_F(WinHttpClientTest, CancelTakesEffectOnceA200sBodyIsDue) {
    server.on("/ok", answer(200, "would have been fine"));
    server.on("/gone", answer(404, "missing"));
    server.on("/stalled", stallAfter(100));
    std::atomic<bool> cancel{true};
    HttpRequestOptions options;
    options.cancel = &cancel;
    expectFailure(get("/ok", options), u"Cancelled");
    expectFailure(get("/gone", options), u"That file is not on the server right now (HTTP 404)");

    // Set while the body has stopped arriving: the wait for the next piece ends.
    cancel = false;
    const HttpBodySink cancelOnFirstPiece = [&](std::string_view, std::u16string&) {
        cancel = true;
        return true;
    };
    EXPECT_FALSE(httpGetStream(server.url("/stalled"), cancelOnFirstPiece, error, options));
    EXPECT_EQ(error, u"Cancelled");
}

}  // namespace
}  // namespace mendly
