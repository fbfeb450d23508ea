#include "platform/local_time.h"

namespace mendly::platform {

std::tm localTime(std::time_t seconds) {
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return std::tm{};
    return local;
}

}  // namespace mendly::platform
