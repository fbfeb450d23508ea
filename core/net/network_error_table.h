#pragma once
// The platform's error numbers behind the " (error N)" sentences.
//
// Each platform lists, in its own network_error_table_*.cpp, which of its
// numbers stands for which sentence (libcurl's CURLcode values on POSIX,
// WinHTTP's ERROR_WINHTTP_* values on Windows), and which numbers the portable
// parts of the client report for the failures they detect themselves. The
// texts of the sentences are in http_sentences.cpp. Constant data; thread-safe.
#include <span>

namespace mendly {

enum class NetworkSentence {
    TimedOut,        // "The connection timed out. ..."
    InvalidAddress,  // "The download address is invalid."
    NotResolved,     // "Could not find the server. ..."
    CannotConnect,   // "Could not connect to the server. ..."
    Dropped,         // "The connection dropped before the download finished. ..."
    Secure,          // "The secure connection failed. Check that this computer's date and time ..."
    Unexpected,      // "The server sent an unexpected response. ..."
};

struct NetworkErrorRow {
    int code;
    NetworkSentence sentence;
};

// Every platform number with a sentence of its own; any other number gets
// "Could not reach the server. ...".
std::span<const NetworkErrorRow> networkErrorRows();

// The numbers reported for failures found outside the platform's calls.
struct NetworkErrorCodes {
    int malformedAddress;  // an address that cannot be split or is too long
    int unknownScheme;     // a scheme other than http and https
    int timedOut;          // the deadline passed, or the transfer went below the minimum rate
    int writeFailed;       // a body sink refused a piece without a sentence of its own
};

const NetworkErrorCodes& networkErrorCodes();

}  // namespace mendly
