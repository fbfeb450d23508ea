#include "hash/md5_gatherer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hash/digest.h"

namespace mendly {
namespace {

// Many threads hand in messages of mixed lengths at once (more threads than
// hash, so that lanes are shared and refilled): each gets its own digest.
class Md5GathererTest : public testing::TestWithParam<unsigned> {};

TEST_P(Md5GathererTest, EveryThreadGetsTheDigestOfItsOwnMessage) {
    Md5Gatherer gatherer(GetParam());
    constexpr int kThreads = 12;
    std::vector<int> wrong(kThreads, 0);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                std::mt19937 rng(static_cast<unsigned>(t));
                for (int m = 0; m < 25; ++m) {
                    std::string bytes(rng() % (m % 5 == 0 ? 300000 : 3000), '\0');
                    for (auto& c : bytes) c = static_cast<char>(rng());
                    if (gatherer.md5Hex(bytes) != md5Hex(bytes)) ++wrong[static_cast<std::size_t>(t)];
                }
            });
        }
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

INSTANTIATE_TEST_SUITE_P(Hashers, Md5GathererTest, testing::Values(1u, 2u, 16u));

}  // namespace
}  // namespace mendly
