// The sentences WinHTTP's error numbers get, and the numbers the address
// checks report on this platform.
#include "log/text.h"
#include "net/http_sentences.h"
#include "net/url_split.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

constexpr std::u16string_view kSecure =
    u"The secure connection failed. Check that this computer's date and time are correct, then try again.";

TEST(WinHttpErrorSentences, EachNumberGetsItsSentence) {
    struct Row {
        int code;
        std::u16string_view sentence;
    } rows[] = {
        {12002, u"The connection timed out. Check your internet connection and try again."},
        {10060, u"The connection timed out. Check your internet connection and try again."},
        {12005, u"The download address is invalid."},
        {12006, u"The download address is invalid."},
        {12007, u"Could not find the server. Check your internet connection and try again."},
        {12029, u"Could not connect to the server. Check your internet connection and try again."},
        {12030, u"The connection dropped before the download finished. Try again in a moment."},
        {12152, u"The server sent an unexpected response. Try again in a moment."},
        {12017, u"Could not reach the server. Check your internet connection and try again."},
        {12156, u"Could not reach the server. Check your internet connection and try again."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(describeNetworkError(row.code),
                  std::u16string(row.sentence) + u" (error " + toDecimal(row.code) + u")");
    }
    for (const int code : {12037, 12038, 12045, 12057, 12157, 12169, 12170, 12175, 12179}) {
        EXPECT_EQ(describeNetworkError(code), std::u16string(kSecure) + u" (error " + toDecimal(code) + u")");
    }
}

TEST(WinHttpErrorSentences, BadAddressesReportWinHttpNumbers) {
    SplitUrl parts;
    std::u16string error;
    EXPECT_FALSE(splitUrl(u"ftp://127.0.0.1/file", parts, error));
    EXPECT_EQ(error, u"The download address is invalid. (error 12006)");
    EXPECT_FALSE(splitUrl(u"127.0.0.1/file", parts, error));
    EXPECT_EQ(error, u"The download address is invalid. (error 12005)");
    EXPECT_FALSE(splitUrl(u"http://h/" + std::u16string(9000, u'a'), parts, error));
    EXPECT_EQ(error, u"The download address is invalid. (error 12005)");
}

}  // namespace
}  // namespace mendly
