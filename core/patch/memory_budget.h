#pragma once
// A budget of bytes that workers take from before they hold large buffers
// and give back after, so that however many run at once, together they hold
// at most the budget (a single piece larger than the budget waits until
// nothing else is held, then goes alone).
//
// Threads: any; its own mutex guards the count. A mutex and a condition
// variable rather than a semaphore, as CpuSlots in download_stage.cpp.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace mendly {

class MemoryBudget {
public:
    explicit MemoryBudget(std::uint64_t bytes) : capacity_(bytes) {}

    void take(std::uint64_t bytes) {
        std::unique_lock lock(mutex_);
        given_.wait(lock, [&] { return held_ == 0 || held_ + bytes <= capacity_; });
        held_ += bytes;
    }
    void giveBack(std::uint64_t bytes) {
        {
            const std::lock_guard lock(mutex_);
            held_ -= bytes;
        }
        given_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable given_;
    const std::uint64_t capacity_;
    std::uint64_t held_ = 0;
};

// Holds `bytes` of a budget for its lifetime.
class BudgetShare {
public:
    BudgetShare(MemoryBudget& budget, std::uint64_t bytes) : budget_(budget), bytes_(bytes) { budget_.take(bytes_); }
    ~BudgetShare() { budget_.giveBack(bytes_); }
    BudgetShare(const BudgetShare&) = delete;
    BudgetShare& operator=(const BudgetShare&) = delete;

private:
    MemoryBudget& budget_;
    const std::uint64_t bytes_;
};

}  // namespace mendly
