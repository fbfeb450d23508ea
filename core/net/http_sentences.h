#pragma once
// The user sentences of httpGet, in one place.
//
// Status sentences (a response other than 200 arrived), each followed by
// " (HTTP <status>)":
//   404                      "That file is not on the server right now"
//   401, 403                 "The server refused the download"
//   500 and above            "The server ran into a problem. Try again later"
//   any other status         "The server could not complete the download"
//                            (1xx, 2xx other than 200, 3xx not followed, other 4xx)
//
// Network sentences, each followed by " (error <N>)" where N is libcurl's own
// CURLcode number:
//   28 OPERATION_TIMEDOUT                      "The connection timed out. ..."
//   1 UNSUPPORTED_PROTOCOL, 3 URL_MALFORMAT    "The download address is invalid."
//   5 COULDNT_RESOLVE_PROXY, 6 COULDNT_RESOLVE_HOST
//                                              "Could not find the server. ..."
//   7 COULDNT_CONNECT                          "Could not connect to the server. ..."
//   18 PARTIAL_FILE, 52 GOT_NOTHING, 55 SEND_ERROR, 56 RECV_ERROR,
//   16 HTTP2, 92 HTTP2_STREAM                  "The connection dropped before the download finished. ..."
//   35 SSL_CONNECT_ERROR, 60 PEER_FAILED_VERIFICATION, 53/54/66 SSL_ENGINE_*,
//   58 SSL_CERTPROBLEM, 59 SSL_CIPHER, 64 USE_SSL_FAILED, 77 SSL_CACERT_BADFILE,
//   80 SSL_SHUTDOWN_FAILED, 82 SSL_CRL_BADFILE, 83 SSL_ISSUER_ERROR,
//   90 SSL_PINNEDPUBKEYNOTMATCH, 91 SSL_INVALIDCERTSTATUS, 98 SSL_CLIENTCERT
//                                              "The secure connection failed. Check that this
//                                               computer's date and time are correct, then try again."
//   8 WEIRD_SERVER_REPLY, 47 TOO_MANY_REDIRECTS, 61 BAD_CONTENT_ENCODING,
//   95 HTTP3                                   "The server sent an unexpected response. ..."
//   anything else                              "Could not reach the server. Check your internet
//                                               connection and try again."
//
// Size sentences:
//   a document over its limit                  "The server sent more than the <N> MB allowed for
//                                               this download"
// Memory:
//   memory ran out while receiving             "Not enough memory to finish this download."
//
// Numbers are plain decimal without grouping. No sentence here is "Cancelled".
#include <cstdint>
#include <string>

namespace mendly {

// Sentence + " (HTTP <status>)".
std::u16string describeHttpStatus(long status);

// Sentence for a libcurl result code + " (error <code>)".
std::u16string describeNetworkError(int curlCode);

// The unexpected-response sentence + " (error <code>)", for a code whose
// table row would mislead in context (a protocol refusal after the address
// was already accepted means the server's answer was not HTTP).
std::u16string describeUnexpectedResponse(int curlCode);

// A body longer than `limit` bytes (limit given in whole MiB).
std::u16string describeDocumentTooLarge(std::uint64_t limit);

std::u16string describeOutOfMemory();

}  // namespace mendly
