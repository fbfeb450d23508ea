#include "net/http_sentences.h"

#include "log/text.h"

#include <curl/curl.h>

#include <string_view>

namespace mendly {
namespace {

constexpr std::u16string_view kTimedOut =
    u"The connection timed out. Check your internet connection and try again.";
constexpr std::u16string_view kInvalidAddress = u"The download address is invalid.";
constexpr std::u16string_view kNotResolved =
    u"Could not find the server. Check your internet connection and try again.";
constexpr std::u16string_view kCannotConnect =
    u"Could not connect to the server. Check your internet connection and try again.";
constexpr std::u16string_view kDropped =
    u"The connection dropped before the download finished. Try again in a moment.";
constexpr std::u16string_view kSecure =
    u"The secure connection failed. Check that this computer's date and time are correct, "
    u"then try again.";
constexpr std::u16string_view kUnexpected =
    u"The server sent an unexpected response. Try again in a moment.";
constexpr std::u16string_view kUnreachable =
    u"Could not reach the server. Check your internet connection and try again.";

struct Row {
    int code;
    std::u16string_view sentence;
};

// The one mapping from libcurl's result codes to sentences (see the header).
constexpr Row kNetworkRows[] = {
    {CURLE_OPERATION_TIMEDOUT, kTimedOut},
    {CURLE_UNSUPPORTED_PROTOCOL, kInvalidAddress},
    {CURLE_URL_MALFORMAT, kInvalidAddress},
    {CURLE_COULDNT_RESOLVE_PROXY, kNotResolved},
    {CURLE_COULDNT_RESOLVE_HOST, kNotResolved},
    {CURLE_COULDNT_CONNECT, kCannotConnect},
    {CURLE_PARTIAL_FILE, kDropped},
    {CURLE_GOT_NOTHING, kDropped},
    {CURLE_SEND_ERROR, kDropped},
    {CURLE_RECV_ERROR, kDropped},
    {CURLE_HTTP2, kDropped},
    {CURLE_HTTP2_STREAM, kDropped},
    {CURLE_SSL_CONNECT_ERROR, kSecure},
    {CURLE_PEER_FAILED_VERIFICATION, kSecure},
    {CURLE_SSL_ENGINE_NOTFOUND, kSecure},
    {CURLE_SSL_ENGINE_SETFAILED, kSecure},
    {CURLE_SSL_ENGINE_INITFAILED, kSecure},
    {CURLE_SSL_CERTPROBLEM, kSecure},
    {CURLE_SSL_CIPHER, kSecure},
    {CURLE_USE_SSL_FAILED, kSecure},
    {CURLE_SSL_CACERT_BADFILE, kSecure},
    {CURLE_SSL_SHUTDOWN_FAILED, kSecure},
    {CURLE_SSL_CRL_BADFILE, kSecure},
    {CURLE_SSL_ISSUER_ERROR, kSecure},
    {CURLE_SSL_PINNEDPUBKEYNOTMATCH, kSecure},
    {CURLE_SSL_INVALIDCERTSTATUS, kSecure},
    {CURLE_SSL_CLIENTCERT, kSecure},
    {CURLE_WEIRD_SERVER_REPLY, kUnexpected},
    {CURLE_TOO_MANY_REDIRECTS, kUnexpected},
    {CURLE_BAD_CONTENT_ENCODING, kUnexpected},
    {CURLE_HTTP3, kUnexpected},
};

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

std::u16string describeNetworkError(int curlCode) {
    for (const Row& row : kNetworkRows) {
        if (row.code == curlCode) return withCode(row.sentence, u"error", curlCode);
    }
    return withCode(kUnreachable, u"error", curlCode);
}

std::u16string describeUnexpectedResponse(int curlCode) {
    return withCode(kUnexpected, u"error", curlCode);
}

std::u16string describeDocumentTooLarge(std::uint64_t limit) {
    return u"The server sent more than the " + toDecimal(static_cast<long long>(limit >> 20)) +
           u" MB allowed for this download";
}

std::u16string describeOutOfMemory() { return u"Not enough memory to finish this download."; }

}  // namespace mendly
