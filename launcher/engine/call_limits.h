#pragma once
// How large and how deeply nested a call from the page may be. The page's
// xcall() refuses a larger call before posting it, and the window refuses one
// that arrives anyway (a page that posts to the message handler itself), so a
// hostile value costs neither process more than one pass over its text. The
// page function xcall() mirrors these numbers.
// Pure; any thread.
#include <cstddef>
#include <string>
#include <string_view>

namespace mendly {

// The whole call {name, args} as JSON text, in bytes.
inline constexpr std::size_t kMaxCallBytes = 1u << 20;
// Nesting of arrays and objects, the call object itself being level 1 and its
// argument list level 2.
inline constexpr std::size_t kMaxCallDepth = 32;

// The deepest nesting of arrays and objects in a JSON text (brackets inside
// strings do not count); 0 for a scalar. Stops counting past `limit`, so the
// answer is at most limit + 1.
std::size_t jsonNestingDepth(std::string_view json, std::size_t limit);

// Why the JSON text of a call is refused ("too large", "nested too deeply");
// empty when it is within both limits.
std::string callLimitViolation(std::string_view json);

}  // namespace mendly
