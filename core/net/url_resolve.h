#pragma once
// Where a redirect leads: a Location value resolved against the address that
// answered, the way browsers resolve a reference (absolute, "//host/...",
// "/path", "?query", "#fragment" or a relative path with "." and ".."
// segments). Used by the client where it follows redirects itself. Pure
// function; thread-safe.
#include <optional>
#include <string>
#include <string_view>

namespace mendly {

// `base` is an absolute address that splitUrl accepted; `location` the
// header's value (surrounding white space ignored). Nothing when `location`
// is empty.
std::optional<std::u16string> resolveReference(std::u16string_view base, std::u16string_view location);

}  // namespace mendly
