#pragma once
// The host part of an address as a person reads it in a message: the name
// and, when the address gives one, the port ("patch.example.org",
// "127.0.0.1:8080", "[::1]:8443"); no scheme, user name, password or path.
// Pure function; thread-safe.
#include <string>
#include <string_view>

namespace mendly {

// The text between "scheme://" (or the start, without a scheme) and the
// first "/", "?" or "#", without any "user:password@". An address with no
// host part gives the address itself, so a message never names nothing.
std::u16string hostOfUrl(std::u16string_view url);

}  // namespace mendly
