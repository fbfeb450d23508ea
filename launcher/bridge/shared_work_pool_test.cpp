#include "bridge/shared_work_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace mendly {
namespace {

using nlohmann::json;

// Stands in for the UI thread: delivered tasks wait until the test runs them.
// Work can be held at a gate, so that the test decides when it ends.
class SharedWorkPoolTest : public ::testing::Test {
protected:
    ~SharedWorkPoolTest() override {
        open();
        pool.reset();
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return threads == 0; });
    }

    void makePool(SharedWorkPool::Limits limits) {
        pool = std::make_unique<SharedWorkPool>(
            limits,
            [this](std::function<void()> task) {
                std::lock_guard lock(mutex);
                delivered.push_back(std::move(task));
                changed.notify_all();
            },
            [this](std::function<void()> body) {
                if (threadsFail) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
                std::lock_guard lock(mutex);
                ++threads;
                std::thread([this, body = std::move(body)] {
                    body();
                    std::lock_guard done(mutex);
                    --threads;
                    changed.notify_all();
                }).detach();
            });
    }

    // Work that counts its runs, waits for the gate and answers `value`.
    SharedWorkPool::Work gated(json value) {
        return [this, value] {
            std::unique_lock lock(mutex);
            ++runs;
            changed.notify_all();
            changed.wait(lock, [this] { return gateOpen; });
            return value;
        };
    }
    SharedWorkPool::Done record() {
        return [this](json value) { answers.push_back(std::move(value)); };
    }
    void open() {
        std::lock_guard lock(mutex);
        gateOpen = true;
        changed.notify_all();
    }
    bool waitForRuns(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return runs >= count; });
    }
    // Waits for `count` delivered tasks and runs them here.
    bool deliver(std::size_t count) {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(20), [&] { return delivered.size() >= count; })) return false;
        auto tasks = std::move(delivered);
        delivered.clear();
        lock.unlock();
        for (auto& task : tasks) task();
        return true;
    }

    std::mutex mutex;  // guards everything below except answers (test thread only)
    std::condition_variable changed;
    std::vector<std::function<void()>> delivered;
    int runs = 0;
    int threads = 0;
    bool gateOpen = false;
    std::atomic<bool> threadsFail{false};
    std::vector<json> answers;
    std::unique_ptr<SharedWorkPool> pool;
};

TEST_F(SharedWorkPoolTest, CallsWithTheKeyOfRunningWorkShareItsOneRun) {
    makePool({2, 8});
    EXPECT_EQ(pool->submit("feed-a", gated("A"), record()), SharedWorkPool::Submitted::Queued);
    ASSERT_TRUE(waitForRuns(1));
    EXPECT_EQ(pool->submit("feed-a", gated("second run"), record()), SharedWorkPool::Submitted::Joined);
    EXPECT_EQ(pool->submit("feed-a", gated("third run"), record()), SharedWorkPool::Submitted::Joined);
    open();
    ASSERT_TRUE(deliver(1));
    EXPECT_EQ(answers, (std::vector<json>{"A", "A", "A"}));
    EXPECT_EQ(runs, 1);
    // Finished work is not joined any more: the same key runs again.
    EXPECT_EQ(pool->submit("feed-a", gated("again"), record()), SharedWorkPool::Submitted::Queued);
    ASSERT_TRUE(deliver(1));
    EXPECT_EQ(answers.back(), "again");
}

TEST_F(SharedWorkPoolTest, ManyCallsRunOnTheBoundedThreadsAndAllAreAnswered) {
    makePool({3, 100});
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(pool->submit("feed-" + std::to_string(i), gated(i), record()), SharedWorkPool::Submitted::Queued);
    ASSERT_TRUE(waitForRuns(3));
    EXPECT_EQ(pool->workers(), 3u);
    open();
    ASSERT_TRUE(deliver(40));
    EXPECT_EQ(answers.size(), 40u);
    EXPECT_EQ(pool->mostWorkers(), 3u);
}

TEST_F(SharedWorkPoolTest, WaitingWorkBeyondTheBoundIsRefusedAndNotAnswered) {
    makePool({1, 2});
    EXPECT_EQ(pool->submit("running", gated(0), record()), SharedWorkPool::Submitted::Queued);
    ASSERT_TRUE(waitForRuns(1));  // taken off the queue
    EXPECT_EQ(pool->submit("w1", gated(1), record()), SharedWorkPool::Submitted::Queued);
    EXPECT_EQ(pool->submit("w2", gated(2), record()), SharedWorkPool::Submitted::Queued);
    EXPECT_EQ(pool->submit("w3", gated(3), record()), SharedWorkPool::Submitted::Busy);
    EXPECT_EQ(pool->submit("w1", gated(9), record()), SharedWorkPool::Submitted::Joined);  // joining costs no place
    open();
    ASSERT_TRUE(deliver(3));
    EXPECT_EQ(answers, (std::vector<json>{0, 1, 1, 2}));
}

TEST_F(SharedWorkPoolTest, WithoutAThreadTheWorkIsDroppedAndTheNextCallMayRunAgain) {
    makePool({2, 8});
    threadsFail = true;
    EXPECT_EQ(pool->submit("feed", gated("x"), record()), SharedWorkPool::Submitted::NoThread);
    EXPECT_EQ(pool->workers(), 0u);
    threadsFail = false;
    open();
    // The dropped call left no job behind to be joined.
    EXPECT_EQ(pool->submit("feed", gated("y"), record()), SharedWorkPool::Submitted::Queued);
    ASSERT_TRUE(deliver(1));
    EXPECT_EQ(answers, (std::vector<json>{"y"}));
}

TEST_F(SharedWorkPoolTest, AFailedThreadStartLeavesTheWorkToTheRunningWorker) {
    makePool({2, 8});
    EXPECT_EQ(pool->submit("first", gated(1), record()), SharedWorkPool::Submitted::Queued);
    ASSERT_TRUE(waitForRuns(1));
    threadsFail = true;
    EXPECT_EQ(pool->submit("second", gated(2), record()), SharedWorkPool::Submitted::Queued);
    open();
    ASSERT_TRUE(deliver(2));
    EXPECT_EQ(answers, (std::vector<json>{1, 2}));
}

TEST_F(SharedWorkPoolTest, ThrowingWorkAnswersNull) {
    makePool({1, 8});
    EXPECT_EQ(pool->submit("", [] () -> json { throw std::runtime_error("boom"); }, record()),
              SharedWorkPool::Submitted::Queued);
    ASSERT_TRUE(deliver(1));
    EXPECT_EQ(answers, (std::vector<json>{nullptr}));
}

TEST_F(SharedWorkPoolTest, WorkFinishingAfterThePoolIsGoneIsNotAnswered) {
    makePool({1, 8});
    EXPECT_EQ(pool->submit("running", gated(1), record()), SharedWorkPool::Submitted::Queued);
    EXPECT_EQ(pool->submit("waiting", gated(2), record()), SharedWorkPool::Submitted::Queued);
    ASSERT_TRUE(waitForRuns(1));
    pool.reset();
    open();
    ASSERT_TRUE(deliver(1));
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(runs, 1);  // the waiting work never ran
}

}  // namespace
}  // namespace mendly
