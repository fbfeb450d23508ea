#pragma once
// Which archive members a publication delivers as single-file payloads.
//
// A pattern is matched against the member's published path "<archive>/<member>"
// ('/' separated, lowercase): '*' matches any run of characters including '/',
// '?' any single character; everything else matches itself, ASCII letters
// without regard to case. Pure; thread-safe.
#include <string_view>

namespace mendly::publish {

bool matchesPayloadPattern(std::string_view pattern, std::string_view memberPath);

}  // namespace mendly::publish
