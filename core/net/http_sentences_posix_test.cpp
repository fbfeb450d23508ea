#include "net/http_sentences.h"

#include "log/text.h"
#include "net/network_error_table.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace mendly {
namespace {

TEST(HttpSentencesTest, StatusesMapOntoTheirSentences) {
    EXPECT_EQ(describeHttpStatus(404), u"That file is not on the server right now (HTTP 404)");
    EXPECT_EQ(describeHttpStatus(401), u"The server refused the download (HTTP 401)");
    EXPECT_EQ(describeHttpStatus(403), u"The server refused the download (HTTP 403)");
    EXPECT_EQ(describeHttpStatus(500), u"The server ran into a problem. Try again later (HTTP 500)");
    EXPECT_EQ(describeHttpStatus(100), u"The server could not complete the download (HTTP 100)");
    EXPECT_EQ(describeHttpStatus(304), u"The server could not complete the download (HTTP 304)");
    EXPECT_EQ(describeHttpStatus(499), u"The server could not complete the download (HTTP 499)");
}

TEST(HttpSentencesTest, EverySecureConnectionFailureAsksToCheckTheClock) {
    const std::u16string sentence =
        u"The secure connection failed. Check that this computer's date and time are correct, then try again.";
    for (const int code : {CURLE_SSL_CONNECT_ERROR, CURLE_PEER_FAILED_VERIFICATION, CURLE_SSL_CERTPROBLEM,
                           CURLE_SSL_CIPHER, CURLE_SSL_CACERT_BADFILE, CURLE_SSL_ISSUER_ERROR,
                           CURLE_SSL_INVALIDCERTSTATUS}) {
        EXPECT_EQ(describeNetworkError(code), sentence + u" (error " + toDecimal(code) + u")");
    }
}

TEST(HttpSentencesTest, NetworkCodesMapOntoTheirSentences) {
    EXPECT_EQ(describeNetworkError(CURLE_OPERATION_TIMEDOUT),
              u"The connection timed out. Check your internet connection and try again. (error 28)");
    EXPECT_EQ(describeNetworkError(CURLE_COULDNT_RESOLVE_PROXY),
              u"Could not find the server. Check your internet connection and try again. (error 5)");
    EXPECT_EQ(describeNetworkError(CURLE_RECV_ERROR),
              u"The connection dropped before the download finished. Try again in a moment. (error 56)");
    EXPECT_EQ(describeNetworkError(CURLE_WEIRD_SERVER_REPLY),
              u"The server sent an unexpected response. Try again in a moment. (error 8)");
    EXPECT_EQ(describeUnexpectedResponse(CURLE_UNSUPPORTED_PROTOCOL),
              u"The server sent an unexpected response. Try again in a moment. (error 1)");
}

TEST(HttpSentencesTest, FailuresFoundOutsideThePlatformCallsUseTheirOwnRows) {
    const NetworkErrorCodes& codes = networkErrorCodes();
    const std::u16string invalid = u"The download address is invalid. (error ";
    EXPECT_EQ(describeNetworkError(codes.malformedAddress), invalid + toDecimal(codes.malformedAddress) + u")");
    EXPECT_EQ(describeNetworkError(codes.unknownScheme), invalid + toDecimal(codes.unknownScheme) + u")");
    EXPECT_EQ(describeNetworkError(codes.timedOut),
              u"The connection timed out. Check your internet connection and try again. (error " +
                  toDecimal(codes.timedOut) + u")");
}

TEST(HttpSentencesTest, EveryPlatformCodeHasOneRow) {
    const auto rows = networkErrorRows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t j = i + 1; j < rows.size(); ++j) EXPECT_NE(rows[i].code, rows[j].code) << rows[i].code;
    }
}

TEST(HttpSentencesTest, UnlistedCodesCouldNotReachTheServer) {
    EXPECT_EQ(describeNetworkError(CURLE_OUT_OF_MEMORY),
              u"Could not reach the server. Check your internet connection and try again. (error 27)");
    EXPECT_EQ(describeNetworkError(12345),
              u"Could not reach the server. Check your internet connection and try again. (error 12345)");
}

}  // namespace
}  // namespace mendly
