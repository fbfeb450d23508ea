#include "net/http_sentences.h"

#include "log/text.h"
#include "net/network_error_table.h"

#include <string_view>

namespace mendly {
namespace {

constexpr std::u16string_view kUnreachable =
    u"Could not reach the server. Check your internet connection and try again.";

std::u16string_view sentenceText(NetworkSentence sentence) {
    switch (sentence) {
        case NetworkSentence::TimedOut:
            return u"The connection timed out. Check your internet connection and try again.";
        case NetworkSentence::InvalidAddress:
            return u"The download address is invalid.";
        case NetworkSentence::NotResolved:
            return u"Could not find the server. Check your internet connection and try again.";
        case NetworkSentence::CannotConnect:
            return u"Could not connect to the server. Check your internet connection and try again.";
        case NetworkSentence::Dropped:
            return u"The connection dropped before the download finished. Try again in a moment.";
        case NetworkSentence::Secure:
            return u"The secure connection failed. Check that this computer's date and time are correct, "
                   u"then try again.";
        case NetworkSentence::Unexpected:
            return u"The server sent an unexpected response. Try again in a moment.";
    }
    return kUnreachable;
}

std::u16string withCode(std::u16string_view sentence, std::u16string_view kind, long long code) {
    std::u16string text(sentence);
    text += u" (";
    text += kind;
    text += u" ";
    text += toDecimal(code);
    text += u")";
    return text;
}

}  // namespace

std::u16string describeHttpStatus(long status) {
    std::u16string_view sentence = u"The server could not complete the download";
    if (status == 404) {
        sentence = u"That file is not on the server right now";
    } else if (status == 401 || status == 403) {
        sentence = u"The server refused the download";
    } else if (status >= 500) {
        sentence = u"The server ran into a problem. Try again later";
    }
    return withCode(sentence, u"HTTP", status);
}

std::u16string describeNetworkError(int code) {
    for (const NetworkErrorRow& row : networkErrorRows()) {
        if (row.code == code) return withCode(sentenceText(row.sentence), u"error", code);
    }
    return withCode(kUnreachable, u"error", code);
}

std::u16string describeUnexpectedResponse(int code) {
    return withCode(sentenceText(NetworkSentence::Unexpected), u"error", code);
}

std::u16string describeDocumentTooLarge(std::uint64_t limit) {
    return u"The server sent more than the " + toDecimal(static_cast<long long>(limit >> 20)) +
           u" MB allowed for this download";
}

std::u16string describeOutOfMemory() { return u"Not enough memory to finish this download."; }

}  // namespace mendly
