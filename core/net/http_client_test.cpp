#include "net/http_client.h"

#include "log/text.h"
#include "net/http_testing.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace mendly {
namespace {

using test::LoopbackServer;
using namespace std::chrono_literals;

constexpr std::u16string_view kNotFound = u"That file is not on the server right now";
constexpr std::u16string_view kRefused = u"The server refused the download";
constexpr std::u16string_view kServerProblem = u"The server ran into a problem. Try again later";
constexpr std::u16string_view kIncomplete = u"The server could not complete the download";
constexpr std::u16string_view kTimedOut =
    u"The connection timed out. Check your internet connection and try again.";
constexpr std::u16string_view kDropped =
    u"The connection dropped before the download finished. Try again in a moment.";
constexpr std::u16string_view kSecure =
    u"The secure connection failed. Check that this computer's date and time are correct, then try again.";

std::u16string withStatus(std::u16string_view sentence, int status) {
    return std::u16string(sentence) + u" (HTTP " + toDecimal(status) + u")";
}

std::u16string withCode(std::u16string_view sentence, int code) {
    return std::u16string(sentence) + u" (error " + toDecimal(code) + u")";
}

std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<char>(x >> 16);
    }
    return bytes;
}

// A port on 127.0.0.1 that nothing listens on (bound, read, released).

class HttpClientTest : public ::testing::Test {
protected:
    void TearDown() override {
        setHttpStallTimeoutForTesting(30s);
        setHttpTrustedCertificatesForTesting({});
    }

    // GET server.url(path); the body starts non-empty so that emptying is seen.
    bool get(const LoopbackServer& from, std::string_view path, const std::atomic<bool>* cancel = nullptr) {
        body = "left over from an earlier call";
        return httpGet(from.wideUrl(path), body, error, cancel);
    }

    void expectFailure(bool ok, std::u16string_view expected) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(toUtf8(error), toUtf8(expected));
        EXPECT_TRUE(body.empty()) << body.size() << " bytes left in the body";
    }

    LoopbackServer server;
    std::string body;
    std::u16string error;
};

// --- Statuses -------------------------------------------------------------

TEST_F(HttpClientTest, MissingFileGivesTheNotOnServerSentenceWithItsStatus) {
    server.respond("/missing", 404, "a page explaining the 404");
    expectFailure(get(server, "/missing"), u"That file is not on the server right now (HTTP 404)");
}

TEST_F(HttpClientTest, ForbiddenAndUnauthorizedAreRefusals) {
    server.respond("/403", 403, "no");
    server.respond("/401", 401, "who are you");
    expectFailure(get(server, "/403"), u"The server refused the download (HTTP 403)");
    expectFailure(get(server, "/401"), withStatus(kRefused, 401));
}

TEST_F(HttpClientTest, ServerErrorsAskToTryAgainLater) {
    server.respond("/500", 500, "boom");
    server.respond("/503", 503, "busy");
    server.respond("/599", 599, "odd");
    expectFailure(get(server, "/500"), withStatus(kServerProblem, 500));
    expectFailure(get(server, "/503"), u"The server ran into a problem. Try again later (HTTP 503)");
    expectFailure(get(server, "/599"), withStatus(kServerProblem, 599));
}

TEST_F(HttpClientTest, SuccessStatusesOtherThan200CouldNotComplete) {
    server.respond("/204", 204, "");
    server.respond("/206", 206, "partial content");
    server.respond("/418", 418, "teapot");
    expectFailure(get(server, "/204"), withStatus(kIncomplete, 204));
    expectFailure(get(server, "/206"), u"The server could not complete the download (HTTP 206)");
    expectFailure(get(server, "/418"), withStatus(kIncomplete, 418));
}

// --- Success --------------------------------------------------------------

TEST_F(HttpClientTest, EmptyOkBodyIsSuccessWithAnEmptyBody) {
    server.respond("/empty", 200, "");
    error = u"untouched";
    EXPECT_TRUE(get(server, "/empty"));
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(error, u"untouched");
}

TEST_F(HttpClientTest, SuccessDeliversEveryByteAndLeavesTheErrorAsItWas) {
    const std::string bytes = pattern(3 * 1024 * 1024 + 17, 1);
    server.respond("/blob.bin", 200, bytes);
    error = u"an earlier failure";
    ASSERT_TRUE(get(server, "/blob.bin"));
    EXPECT_EQ(body.size(), bytes.size());
    EXPECT_TRUE(body == bytes);
    EXPECT_EQ(error, u"an earlier failure");
}

TEST_F(HttpClientTest, KeptAliveConnectionsServeSeveralCalls) {
    LoopbackServer keepAlive(LoopbackServer::Scheme::Http, LoopbackServer::KeepAlive::On);
    keepAlive.respond("/a", 200, "first");
    keepAlive.respond("/b", 200, "second");
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(get(keepAlive, "/a"));
        EXPECT_EQ(body, "first");
        ASSERT_TRUE(get(keepAlive, "/b"));
        EXPECT_EQ(body, "second");
    }
}

// --- What is sent ---------------------------------------------------------

TEST_F(HttpClientTest, SendsTheUserAgentAndNoCompressionRequest) {
    server.respond("/ua", 200, "ok");
    ASSERT_TRUE(get(server, "/ua"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].userAgent, "mendly-launcher/1");
    EXPECT_EQ(requests[0].headers.count("Accept-Encoding"), 0u);
}

TEST_F(HttpClientTest, RequestsPathPlusQuery) {
    server.respond("/files/list.txt", 200, "ok");
    ASSERT_TRUE(get(server, "/files/list.txt?v=3&lang=en"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/files/list.txt?v=3&lang=en");
}

TEST_F(HttpClientTest, HostOnlyAddressRequestsTheRoot) {
    server.respond("/", 200, "root");
    ASSERT_TRUE(httpGet(toWide(server.baseUrl()), body, error));
    EXPECT_EQ(body, "root");
    EXPECT_EQ(server.requests().at(0).target, "/");
}

TEST_F(HttpClientTest, SpacesAndNonAsciiInThePathAreEscaped) {
    test::TempDir folder;
    test::writeFile(folder / "Game Data" / "\xC3\xBC" "ber.txt", "umlaut");
    server.serveFolder(folder.path());
    ASSERT_TRUE(httpGet(server.wideUrl("/Game Data/") + u"\u00FCber.txt", body, error)) << toUtf8(error);
    EXPECT_EQ(body, "umlaut");
    EXPECT_EQ(server.requests().at(0).target, "/Game%20Data/%C3%BCber.txt");
}

// --- Redirects ------------------------------------------------------------

TEST_F(HttpClientTest, OrdinaryRedirectIsFollowed) {
    server.redirect("/old", server.url("/new"));
    server.respond("/new", 200, "moved here");
    ASSERT_TRUE(get(server, "/old"));
    EXPECT_EQ(body, "moved here");
    EXPECT_EQ(server.requestCount("/new"), 1u);
}

TEST_F(HttpClientTest, RelativeRedirectIsFollowed) {
    server.redirect("/a/old", "new", 301);
    server.respond("/a/new", 200, "relative");
    ASSERT_TRUE(get(server, "/a/old"));
    EXPECT_EQ(body, "relative");
}

TEST_F(HttpClientTest, RedirectWithoutLocationEndsAsItsStatus) {
    server.respond("/nowhere", 302, "no location header");
    expectFailure(get(server, "/nowhere"), u"The server could not complete the download (HTTP 302)");
}

TEST_F(HttpClientTest, EndlessRedirectsEndAsTheLastStatus) {
    server.redirect("/loop", "/loop", 307);
    expectFailure(get(server, "/loop"), withStatus(kIncomplete, 307));
    EXPECT_EQ(server.requestCount("/loop"), 11u);  // the first request and ten redirects
}

TEST_F(HttpClientTest, RedirectToAnotherSchemeIsNotFollowed) {
    server.redirect("/ftp", "ftp://127.0.0.1/file");
    expectFailure(get(server, "/ftp"), withStatus(kIncomplete, 302));
}

// --- TLS ------------------------------------------------------------------

class HttpsClientTest : public HttpClientTest {
protected:
    LoopbackServer secure{LoopbackServer::Scheme::Https};
};

TEST_F(HttpsClientTest, UntrustedCertificateGivesTheDateAndTimeSentence) {
    secure.respond("/file", 200, "secret");
    expectFailure(get(secure, "/file"), withCode(kSecure, 60));
    EXPECT_EQ(secure.requestCount("/file"), 0u);
}

TEST_F(HttpsClientTest, TrustedCertificateDownloads) {
    setHttpTrustedCertificatesForTesting(LoopbackServer::certificateFile());
    secure.respond("/file", 200, "secret");
    ASSERT_TRUE(get(secure, "/file")) << toUtf8(error);
    EXPECT_EQ(body, "secret");
}

TEST_F(HttpsClientTest, RedirectFromHttpsToHttpIsNotFollowed) {
    setHttpTrustedCertificatesForTesting(LoopbackServer::certificateFile());
    server.respond("/plain", 200, "downgraded");
    secure.redirect("/moved", server.url("/plain"));
    expectFailure(get(secure, "/moved"), u"The server could not complete the download (HTTP 302)");
    EXPECT_EQ(server.requestCount("/plain"), 0u);
}

TEST_F(HttpsClientTest, RedirectFromHttpsToHttpsIsFollowed) {
    setHttpTrustedCertificatesForTesting(LoopbackServer::certificateFile());
    LoopbackServer other(LoopbackServer::Scheme::Https);
    other.respond("/there", 200, "still secure");
    secure.redirect("/moved", other.url("/there"));
    ASSERT_TRUE(get(secure, "/moved")) << toUtf8(error);
    EXPECT_EQ(body, "still secure");
}

TEST_F(HttpsClientTest, RedirectBackToHttpAfterUpgradingIsNotFollowed) {
    setHttpTrustedCertificatesForTesting(LoopbackServer::certificateFile());
    server.redirect("/start", secure.url("/upgraded"));
    secure.redirect("/upgraded", server.url("/plain"), 301);
    server.respond("/plain", 200, "downgraded");
    expectFailure(get(server, "/start"), withStatus(kIncomplete, 301));
    EXPECT_EQ(server.requestCount("/plain"), 0u);
}

// --- How a failure ended, as a value --------------------------------------

// What callers decide on: a passing failure (refused, dropped, timed out,
// 5xx) is worth asking again, nothing else is; the phrase names it.
TEST_F(HttpClientTest, EveryFailureSaysWhetherItIsWorthAskingAgain) {
    setHttpStallTimeoutForTesting(1s);
    server.respond("/missing", 404, "no");
    server.respond("/busy", 503, "later");
    server.respond("/forbidden", 403, "no");
    server.dropConnection("/drop");
    server.truncateBody("/cut", std::string(100, 'x'), 500);
    server.stallBeforeHeaders("/silent");
    const std::string refused = "http://127.0.0.1:" + std::to_string(test::unusedLoopbackPort()) + "/file";
    const struct {
        std::string url;
        HttpFailure::Kind kind;
        bool transient;
        std::u16string_view phrase;
    } cases[] = {
        {refused, HttpFailure::Kind::Network, true, u"refused the connection"},
        {server.url("/drop"), HttpFailure::Kind::Network, true, u"dropped the connection"},
        {server.url("/cut"), HttpFailure::Kind::Network, true, u"dropped the connection"},
        {server.url("/silent"), HttpFailure::Kind::Network, true, u"did not answer in time"},
        {server.url("/busy"), HttpFailure::Kind::Status, true, u"answered HTTP 503"},
        {server.url("/missing"), HttpFailure::Kind::Status, false, u"answered HTTP 404"},
        {server.url("/forbidden"), HttpFailure::Kind::Status, false, u"answered HTTP 403"},
        {"http://patch-host.invalid/file", HttpFailure::Kind::Network, false, u"could not be found"},
        {"ftp://127.0.0.1/file", HttpFailure::Kind::Address, false, u"failed"},
    };
    for (const auto& c : cases) {
        HttpFailure failure;
        EXPECT_FALSE(httpGet(toWide(c.url), body, error, HttpRequestOptions{}, failure)) << c.url;
        EXPECT_EQ(failure.kind, c.kind) << c.url;
        EXPECT_EQ(isTransientFailure(failure), c.transient) << c.url;
        EXPECT_EQ(toUtf8(hostFailurePhrase(failure)), toUtf8(c.phrase)) << c.url;
    }
}

TEST_F(HttpClientTest, ABodyRefusedHereIsNotTheHostsFailure) {
    server.respond("/big", 200, std::string(3 << 20, 'x'));
    HttpRequestOptions options;
    options.documentLimit = 1 << 20;
    HttpFailure failure;
    EXPECT_FALSE(httpGet(server.wideUrl("/big"), body, error, options, failure));
    EXPECT_EQ(failure.kind, HttpFailure::Kind::Body);
    EXPECT_FALSE(isTransientFailure(failure));
    failure = {};
    EXPECT_TRUE(httpGet(server.wideUrl("/big"), body, error, HttpRequestOptions{}, failure));
    EXPECT_EQ(failure.kind, HttpFailure::Kind::None) << "left as it was on success";
}

// --- Network failures -----------------------------------------------------

TEST_F(HttpClientTest, RefusedConnectionCannotConnect) {
    const std::string url = "http://127.0.0.1:" + std::to_string(test::unusedLoopbackPort()) + "/file";
    body = "stale";
    expectFailure(httpGet(toWide(url), body, error),
                  u"Could not connect to the server. Check your internet connection and try again. (error 7)");
}

TEST_F(HttpClientTest, UnresolvableNameCannotFindTheServer) {
    body = "stale";
    expectFailure(httpGet(u"http://patch-host.invalid/file", body, error),
                  u"Could not find the server. Check your internet connection and try again. (error 6)");
}

TEST_F(HttpClientTest, OtherSchemeIsAnInvalidAddress) {
    body = "stale";
    expectFailure(httpGet(u"ftp://127.0.0.1/file", body, error), u"The download address is invalid. (error 1)");
}

TEST_F(HttpClientTest, MalformedAddressIsInvalid) {
    body = "stale";
    expectFailure(httpGet(u"127.0.0.1/file", body, error), u"The download address is invalid. (error 3)");
}

TEST_F(HttpClientTest, ConnectionCutOffMidBodyDropped) {
    server.truncateBody("/cut", std::string(1000, 'x'), 5000);
    expectFailure(get(server, "/cut"), withCode(kDropped, 18));
}

TEST_F(HttpClientTest, ADeclaredLengthFarPastAnyLimitIsOnlyAHint) {
    // Nothing is set aside for a terabyte: the body is cut off, not out of memory.
    server.truncateBody("/huge", std::string(1000, 'x'), std::size_t{1} << 40);
    expectFailure(get(server, "/huge"), withCode(kDropped, 18));
}

TEST_F(HttpClientTest, ConnectionClosedWithoutAnswerDropped) {
    server.dropConnection("/drop");
    expectFailure(get(server, "/drop"), withCode(kDropped, 52));
}

TEST_F(HttpClientTest, BodyThatStopsArrivingTimesOut) {
    setHttpStallTimeoutForTesting(1s);
    server.stallMidBody("/stall", std::string(4096, 'x'), 1 << 20);
    const auto start = std::chrono::steady_clock::now();
    expectFailure(get(server, "/stall"), withCode(kTimedOut, 28));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
}

TEST_F(HttpClientTest, ServerThatNeverAnswersTimesOut) {
    setHttpStallTimeoutForTesting(1s);
    server.stallBeforeHeaders("/silent");
    expectFailure(get(server, "/silent"), withCode(kTimedOut, 28));
}

TEST_F(HttpClientTest, ATrickleOfBytesTimesOutLikeSilence) {
    setHttpStallTimeoutForTesting(2s);
    server.streamBody("/trickle", 2, 100ms);  // 40 bytes per window, never silent
    expectFailure(get(server, "/trickle"), withCode(kTimedOut, 28));
}

TEST_F(HttpClientTest, ASlowButSteadyBodyOutlastingTheWindowArrives) {
    setHttpStallTimeoutForTesting(2s);
    // 7,000 bytes a second (the minimum is 512) for three seconds: a loaded
    // machine may delay pieces without bringing a window under the minimum.
    server.streamBody("/steady", 700, 100ms, 700 * 30);
    EXPECT_TRUE(get(server, "/steady")) << toUtf8(error);
    EXPECT_EQ(body.size(), 700u * 30);
}

TEST_F(HttpClientTest, TheDeadlineEndsARequestThatKeepsArriving) {
    server.streamBody("/endless", 64 * 1024, 10ms);
    HttpRequestOptions options;
    options.deadline = std::chrono::steady_clock::now() + 1s;
    options.documentLimit = std::uint64_t{1} << 40;
    body = "left over";
    expectFailure(httpGet(server.wideUrl("/endless"), body, error, options), withCode(kTimedOut, 28));
}

TEST_F(HttpClientTest, ADocumentStopsAtItsLimit) {
    server.streamBody("/endless", 64 * 1024, 1ms);
    HttpRequestOptions options;
    options.documentLimit = kHttpSmallDocumentLimit;
    body = "left over";
    expectFailure(httpGet(server.wideUrl("/endless"), body, error, options),
                  u"The server sent more than the 1 MB allowed for this download");
    EXPECT_LT(server.bytesSent("/endless"), std::size_t{8} << 20);
}

// --- Cancellation ---------------------------------------------------------

class HttpCancelTest : public HttpClientTest {
protected:
    // Runs the GET on a worker, sets the flag once `path` has sent `after`
    // body bytes (or, with after == 0, right away), and waits for the result.
    bool getAndCancel(std::string_view path, std::size_t after) {
        std::atomic<bool> cancel{after == 0};
        bool ok = true;
        body = "stale";
        std::thread worker([&] { ok = httpGet(server.wideUrl(path), body, error, &cancel); });
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (after > 0 && server.bytesSent(path) < after && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        cancel = true;
        worker.join();
        return ok;
    }
};

TEST_F(HttpCancelTest, CancelWhileALargeBodyArrivesReturnsCancelledAndNoBody) {
    constexpr std::size_t kTotal = 256u * 1024 * 1024;
    server.streamBody("/big", 16 * 1024, 5ms, kTotal);
    expectFailure(getAndCancel("/big", 64 * 1024), u"Cancelled");
    EXPECT_LT(server.bytesSent("/big"), kTotal);
}

TEST_F(HttpCancelTest, CancelReachesABodyThatStoppedArriving) {
    server.stallMidBody("/stuck", std::string(2048, 'x'), 1 << 20);
    const auto start = std::chrono::steady_clock::now();
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(300ms);
        cancel = true;
    });
    body = "stale";
    const bool ok = httpGet(server.wideUrl("/stuck"), body, error, &cancel);
    canceller.join();
    expectFailure(ok, u"Cancelled");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(HttpCancelTest, CancelSetBeforeTheCallStillReportsA404) {
    server.respond("/gone", 404, "missing");
    expectFailure(getAndCancel("/gone", 0), withStatus(kNotFound, 404));
    EXPECT_EQ(server.requestCount("/gone"), 1u);
}

TEST_F(HttpCancelTest, CancelSetBeforeTheCallCancelsA200AfterItsHeaders) {
    server.respond("/ok", 200, "would have been fine");
    expectFailure(getAndCancel("/ok", 0), u"Cancelled");
    EXPECT_EQ(server.requestCount("/ok"), 1u);
}

TEST_F(HttpCancelTest, UnsetFlagLetsTheDownloadFinish) {
    server.streamBody("/small", 4096, 1ms, 40000);
    std::atomic<bool> cancel{false};
    ASSERT_TRUE(get(server, "/small", &cancel)) << toUtf8(error);
    ASSERT_EQ(body.size(), 40000u);
    EXPECT_EQ(body.substr(0, 5), "abcde");
    EXPECT_EQ(body[26], 'a');
}

// --- Many calls at once ---------------------------------------------------

TEST_F(HttpClientTest, ManyParallelCallsEachGetTheirOwnFile) {
    test::TempDir folder;
    constexpr int kFiles = 40;
    std::vector<std::string> contents;
    for (int i = 0; i < kFiles; ++i) {
        contents.push_back(pattern(1000 + i * 977, static_cast<unsigned>(i)));
        test::writeFile(folder / ("f" + std::to_string(i)), contents.back());
    }
    server.serveFolder(folder.path());
    server.respond("/missing", 404, "");

    constexpr int kThreads = 8;
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            std::string b;
            std::u16string e;
            for (int round = 0; round < 3; ++round) {
                for (int k = 0; k < kFiles; ++k) {
                    const int i = (k + t * 5) % kFiles;  // every thread starts somewhere else
                    if (!httpGet(server.wideUrl("/f" + std::to_string(i)), b, e) || b != contents[i]) ++wrong;
                }
                if (httpGet(server.wideUrl("/missing"), b, e) || e != withStatus(kNotFound, 404) || !b.empty()) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(server.totalRequests(), static_cast<std::size_t>(kThreads * 3 * (kFiles + 1)));
}

}  // namespace
}  // namespace mendly
