#include "patch/worker_count.h"

#include <algorithm>
#include <thread>

namespace mendly {

unsigned workerCount(std::int64_t n, unsigned hardwareThreads) {
    if (n < 1) return 1;
    const std::int64_t limit = hardwareThreads == 0 ? 4 : hardwareThreads;
    return static_cast<unsigned>(std::min(n, limit));
}

unsigned workerCount(std::int64_t n) { return workerCount(n, std::thread::hardware_concurrency()); }

unsigned transferCount(std::int64_t n) {
    if (n < 1) return 1;
    return static_cast<unsigned>(std::min<std::int64_t>(n, kTransfersInFlight));
}

}  // namespace mendly
