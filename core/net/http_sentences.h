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
// Network sentences, each followed by " (error <N>)" where N is the platform's
// own error number (libcurl's CURLcode on POSIX, WinHTTP's ERROR_WINHTTP_* on
// Windows); which number gets which sentence is listed per platform in
// net/network_error_table_*.cpp:
//   timed out                                  "The connection timed out. ..."
//   invalid address or scheme                  "The download address is invalid."
//   name not resolved                          "Could not find the server. ..."
//   connection refused                         "Could not connect to the server. ..."
//   connection lost                            "The connection dropped before the download finished. ..."
//   any certificate or TLS failure             "The secure connection failed. Check that this
//                                               computer's date and time are correct, then try again."
//   an answer that is not HTTP                 "The server sent an unexpected response. ..."
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

// Sentence for a platform error number + " (error <code>)".
std::u16string describeNetworkError(int code);

// The unexpected-response sentence + " (error <code>)", for a code whose
// table row would mislead in context (a protocol refusal after the address
// was already accepted means the server's answer was not HTTP).
std::u16string describeUnexpectedResponse(int code);

// A body longer than `limit` bytes (limit given in whole MiB).
std::u16string describeDocumentTooLarge(std::uint64_t limit);

std::u16string describeOutOfMemory();

}  // namespace mendly
