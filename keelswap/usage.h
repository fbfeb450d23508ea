#pragma once
#include <string_view>

namespace mendly::keelswap {

// The usage text written to the error stream on every usage error, each line
// ending in a line feed.
std::string_view usageText();

}  // namespace mendly::keelswap
