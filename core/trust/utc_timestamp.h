#pragma once
// UTC time stamps written "YYYY-MM-DDTHH:MM:SSZ" (the expiry of signed update
// information). Pure functions; thread-safe.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace mendly {

// Exactly that form with a real calendar date and time (seconds 00-59);
// nothing otherwise.
std::optional<std::chrono::sys_seconds> parseUtcTimestamp(std::string_view text);
std::string formatUtcTimestamp(std::chrono::sys_seconds time);

}  // namespace mendly
