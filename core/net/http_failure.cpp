#include "net/http_failure.h"

#include <optional>

#include "log/text.h"
#include "net/network_error_table.h"

namespace mendly {
namespace {

std::optional<NetworkSentence> sentenceOf(int code) {
    for (const NetworkErrorRow& row : networkErrorRows())
        if (row.code == code) return row.sentence;
    return std::nullopt;
}

}  // namespace

bool isTransientFailure(const HttpFailure& failure) {
    switch (failure.kind) {
        case HttpFailure::Kind::Status:
            return failure.status >= 500 && failure.status <= 599;
        case HttpFailure::Kind::Network: {
            const auto sentence = sentenceOf(failure.code);
            return sentence == NetworkSentence::CannotConnect || sentence == NetworkSentence::Dropped ||
                   sentence == NetworkSentence::TimedOut;
        }
        default:
            return false;
    }
}

std::u16string hostFailurePhrase(const HttpFailure& failure) {
    if (failure.kind == HttpFailure::Kind::Status) return u"answered HTTP " + toDecimal(failure.status);
    if (failure.kind != HttpFailure::Kind::Network) return u"failed";
    switch (sentenceOf(failure.code).value_or(NetworkSentence::Unexpected)) {
        case NetworkSentence::CannotConnect: return u"refused the connection";
        case NetworkSentence::Dropped: return u"dropped the connection";
        case NetworkSentence::TimedOut: return u"did not answer in time";
        case NetworkSentence::NotResolved: return u"could not be found";
        case NetworkSentence::Secure: return u"failed the secure connection";
        default: return u"could not be reached";
    }
}

}  // namespace mendly
