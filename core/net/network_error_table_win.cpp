#include "net/network_error_table.h"

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

namespace mendly {
namespace {

using S = NetworkSentence;

// WinHTTP's error codes and the sentence each one gets.
constexpr NetworkErrorRow kRows[] = {
    {ERROR_WINHTTP_TIMEOUT, S::TimedOut},                         // 12002
    {ERROR_WINHTTP_INVALID_URL, S::InvalidAddress},               // 12005
    {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, S::InvalidAddress},       // 12006
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, S::NotResolved},            // 12007
    {ERROR_WINHTTP_CANNOT_CONNECT, S::CannotConnect},             // 12029
    {ERROR_WINHTTP_CONNECTION_ERROR, S::Dropped},                 // 12030
    {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, S::Secure},          // 12037
    {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, S::Secure},            // 12038
    {ERROR_WINHTTP_SECURE_INVALID_CA, S::Secure},                 // 12045
    {ERROR_WINHTTP_SECURE_CERT_REV_FAILED, S::Secure},            // 12057
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, S::Unexpected},       // 12152
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, S::Secure},              // 12157
    {ERROR_WINHTTP_SECURE_INVALID_CERT, S::Secure},               // 12169
    {ERROR_WINHTTP_SECURE_CERT_REVOKED, S::Secure},               // 12170
    {ERROR_WINHTTP_SECURE_FAILURE, S::Secure},                    // 12175
    {ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, S::Secure},           // 12179
    // Some WinHTTP implementations pass the socket's own time-out through.
    {WSAETIMEDOUT, S::TimedOut},                                  // 10060
};

constexpr NetworkErrorCodes kCodes{ERROR_WINHTTP_INVALID_URL, ERROR_WINHTTP_UNRECOGNIZED_SCHEME,
                                   ERROR_WINHTTP_TIMEOUT, ERROR_WRITE_FAULT};

}  // namespace

std::span<const NetworkErrorRow> networkErrorRows() { return kRows; }

const NetworkErrorCodes& networkErrorCodes() { return kCodes; }

}  // namespace mendly
