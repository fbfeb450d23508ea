#include "work_pool.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace mendly::publish {

bool forEachItem(std::size_t count, unsigned threads, const std::function<bool(std::size_t, std::string&)>& work,
                 std::string& error) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex errorMutex;  // guards `error`
    auto worker = [&] {
        while (!failed.load()) {
            const std::size_t i = next.fetch_add(1);
            if (i >= count) return;
            std::string message;
            if (!work(i, message)) {
                std::lock_guard lock(errorMutex);
                if (!failed.exchange(true)) error = message;
            }
        }
    };
    unsigned pool = threads ? threads : std::max(1u, std::thread::hardware_concurrency());
    pool = static_cast<unsigned>(std::min<std::size_t>(pool, std::max<std::size_t>(count, 1)));
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < pool; ++t) helpers.emplace_back(worker);
    worker();
    for (auto& thread : helpers) thread.join();
    return !failed.load();
}

}  // namespace mendly::publish
