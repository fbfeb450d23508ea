#include "patch/worker_count.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace mendly {
namespace {

TEST(WorkerCount, NoWorkStillGetsOneWorker) {
    EXPECT_EQ(workerCount(0, 8), 1u);
    EXPECT_EQ(workerCount(-5, 8), 1u);
    EXPECT_EQ(workerCount(0, 0), 1u);
}

TEST(WorkerCount, FewItemsGetOneWorkerEach) {
    EXPECT_EQ(workerCount(3, 8), 3u);
    EXPECT_EQ(workerCount(1, 8), 1u);
}

TEST(WorkerCount, ManyItemsAreCappedAtTheHardwareThreads) {
    EXPECT_EQ(workerCount(100, 8), 8u);
    EXPECT_EQ(workerCount(8, 8), 8u);
    EXPECT_EQ(workerCount(1'000'000, 64), 64u);
}

TEST(WorkerCount, UnknownHardwareCountsAsFourThreads) {
    EXPECT_EQ(workerCount(100, 0), 4u);
    EXPECT_EQ(workerCount(2, 0), 2u);
}

TEST(WorkerCount, CountsBeyondThirtyTwoBitsStayCapped) {
    EXPECT_EQ(workerCount(std::int64_t{1} << 40, 16), 16u);
}

TEST(WorkerCount, DefaultUsesThisMachinesThreadCount) {
    const unsigned hardware = std::thread::hardware_concurrency();
    const unsigned expected = std::min(100u, hardware == 0 ? 4u : hardware);
    EXPECT_EQ(workerCount(100), expected);
    EXPECT_EQ(workerCount(0), 1u);
}

}  // namespace
}  // namespace mendly
