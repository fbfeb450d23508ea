#include "platform/local_time.h"

namespace mendly::platform {

std::tm localTime(std::time_t seconds) {
    std::tm local{};
    if (::localtime_s(&local, &seconds) != 0) return std::tm{};
    return local;
}

}  // namespace mendly::platform
