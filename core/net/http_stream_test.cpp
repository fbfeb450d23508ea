// httpGetStream: a 200 body handed on piece by piece, and what stops it.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>

#include "log/text.h"
#include "net/http_client.h"
#include "net/http_sentences.h"
#include "support/loopback_server.h"

namespace mendly {
namespace {

using test::LoopbackServer;
using namespace std::chrono_literals;

class HttpStreamTest : public ::testing::Test {
protected:
    // Counts the sink's calls and bytes; `answer` decides each call's answer (none: go on).
    bool get(std::string_view path, std::function<bool(std::string_view, std::u16string&)> answer = nullptr) {
        const HttpBodySink sink = [&](std::string_view piece, std::u16string& sinkError) {
            ++calls;
            received += piece.size();
            return answer ? answer(piece, sinkError) : true;
        };
        return httpGetStream(server.wideUrl(path), sink, error, nullptr);
    }

    LoopbackServer server;
    std::u16string error = u"untouched";
    std::size_t calls = 0;
    std::uint64_t received = 0;
};

TEST_F(HttpStreamTest, HandsTheBodyOnInOrderAndKeepsNoneOfIt) {
    constexpr std::size_t kTotal = 64u << 20;
    server.streamBody("/big.bin", 1u << 20, 0ms, kTotal);  // 'a'..'z' over and over from the first byte
    bool inOrder = true;
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    ASSERT_TRUE(get("/big.bin", [&](std::string_view piece, std::u16string&) {
        for (std::size_t i = 0; i < piece.size() && inOrder; ++i)
            inOrder = piece[i] == static_cast<char>('a' + (received - piece.size() + i) % 26);
        return true;
    }));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(received, kTotal);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(error, u"untouched");
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // sanitizers hold memory of their own
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 << 10) << "KiB more peak memory: the body was held";
#endif
}

TEST_F(HttpStreamTest, ASinkSayingNoEndsTheTransferWithItsSentenceOrAGenericOne) {
    server.respond("/file.bin", 200, std::string(4u << 20, 'f'));
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
        {u"Not enough disk space in /games: 4.0 MB needed, 1.0 MB free",
         u"Not enough disk space in /games: 4.0 MB needed, 1.0 MB free"},
        {u"", u"Could not reach the server. Check your internet connection and try again. (error 23)"},
    };
    for (const auto& [sentence, expected] : cases) {
        calls = 0;
        EXPECT_FALSE(get("/file.bin", [&](std::string_view, std::u16string& sinkError) {
            sinkError = sentence;
            return false;
        }));
        EXPECT_EQ(calls, 1u) << "pieces arrived after the sink said no";
        EXPECT_EQ(toUtf8(error), toUtf8(expected));
    }
}

TEST_F(HttpStreamTest, AnswersOtherThan200GiveTheirSentenceAndNoBody) {
    const std::pair<int, std::u16string_view> cases[] = {
        {404, u"That file is not on the server right now (HTTP 404)"},
        {503, u"The server ran into a problem. Try again later (HTTP 503)"},
        {206, u"The server could not complete the download (HTTP 206)"},
    };
    for (const auto& [status, sentence] : cases) {
        server.respond("/s", status, "a body that must not reach the sink");
        EXPECT_FALSE(get("/s"));
        EXPECT_EQ(toUtf8(error), toUtf8(sentence));
    }
    EXPECT_EQ(calls, 0u);
}

// No 256 MiB body is sent here: httpGet's limit is a sink that says no (as
// above) with this sentence.
TEST(HttpDocumentLimit, TheRefusalNamesTheLimitInMegabytes) {
    EXPECT_EQ(toUtf8(describeDocumentTooLarge(kHttpDocumentLimit)),
              "The server sent more than the 256 MB allowed for this download");
}

}  // namespace
}  // namespace mendly
