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

}  // namespace mendly
