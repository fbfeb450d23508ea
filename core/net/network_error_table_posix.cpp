#include "net/network_error_table.h"

#include <curl/curl.h>

namespace mendly {
namespace {

using S = NetworkSentence;

// libcurl's result codes and the sentence each one gets.
constexpr NetworkErrorRow kRows[] = {
    {CURLE_OPERATION_TIMEDOUT, S::TimedOut},
    {CURLE_UNSUPPORTED_PROTOCOL, S::InvalidAddress},
    {CURLE_URL_MALFORMAT, S::InvalidAddress},
    {CURLE_COULDNT_RESOLVE_PROXY, S::NotResolved},
    {CURLE_COULDNT_RESOLVE_HOST, S::NotResolved},
    {CURLE_COULDNT_CONNECT, S::CannotConnect},
    {CURLE_PARTIAL_FILE, S::Dropped},
    {CURLE_GOT_NOTHING, S::Dropped},
    {CURLE_SEND_ERROR, S::Dropped},
    {CURLE_RECV_ERROR, S::Dropped},
    {CURLE_HTTP2, S::Dropped},
    {CURLE_HTTP2_STREAM, S::Dropped},
    {CURLE_SSL_CONNECT_ERROR, S::Secure},
    {CURLE_PEER_FAILED_VERIFICATION, S::Secure},
    {CURLE_SSL_ENGINE_NOTFOUND, S::Secure},
    {CURLE_SSL_ENGINE_SETFAILED, S::Secure},
    {CURLE_SSL_ENGINE_INITFAILED, S::Secure},
    {CURLE_SSL_CERTPROBLEM, S::Secure},
    {CURLE_SSL_CIPHER, S::Secure},
    {CURLE_USE_SSL_FAILED, S::Secure},
    {CURLE_SSL_CACERT_BADFILE, S::Secure},
    {CURLE_SSL_SHUTDOWN_FAILED, S::Secure},
    {CURLE_SSL_CRL_BADFILE, S::Secure},
    {CURLE_SSL_ISSUER_ERROR, S::Secure},
    {CURLE_SSL_PINNEDPUBKEYNOTMATCH, S::Secure},
    {CURLE_SSL_INVALIDCERTSTATUS, S::Secure},
    {CURLE_SSL_CLIENTCERT, S::Secure},
    {CURLE_WEIRD_SERVER_REPLY, S::Unexpected},
    {CURLE_TOO_MANY_REDIRECTS, S::Unexpected},
    {CURLE_BAD_CONTENT_ENCODING, S::Unexpected},
    {CURLE_HTTP3, S::Unexpected},
};

constexpr NetworkErrorCodes kCodes{CURLE_URL_MALFORMAT, CURLE_UNSUPPORTED_PROTOCOL, CURLE_OPERATION_TIMEDOUT,
                                   CURLE_WRITE_ERROR};

}  // namespace

std::span<const NetworkErrorRow> networkErrorRows() { return kRows; }

const NetworkErrorCodes& networkErrorCodes() { return kCodes; }

}  // namespace mendly
