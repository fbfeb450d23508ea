#pragma once
// Base64 (RFC 4648, standard alphabet, '=' padding) for key and signature
// texts. Pure functions, thread-safe.
#include <optional>
#include <string>
#include <string_view>

namespace mendly {

std::string base64Encode(std::string_view bytes);

// Strict: a length that is a multiple of four, only alphabet characters, and
// padding only at the end with zero bits below it. Nothing on any violation.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace mendly
