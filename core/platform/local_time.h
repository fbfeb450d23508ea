#pragma once
// The local calendar time of a moment, in the user's time zone.
// POSIX: local_time_posix.cpp (localtime_r). Windows: local_time_win.cpp
// (localtime_s). Safe from any thread.
#include <ctime>

namespace mendly::platform {

// The broken-down local time of `seconds` since 1970; all fields zero when
// the moment cannot be converted.
std::tm localTime(std::time_t seconds);

}  // namespace mendly::platform
