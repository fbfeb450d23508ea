#include "bridge/refresh_pacer.h"

#include <gtest/gtest.h>

#include <vector>

namespace mendly {
namespace {

using namespace std::chrono_literals;

// A pacer on a hand-driven clock; the timer is fired by the test.
class RefreshPacerTest : public ::testing::Test {
protected:
    void advance(std::chrono::milliseconds by) { now += by; }
    void fireTimer() {
        ASSERT_FALSE(timers.empty());
        pacer.timerFired();
    }

    std::chrono::steady_clock::time_point now{};
    int pushes = 0;
    std::vector<std::chrono::milliseconds> timers;
    RefreshPacer pacer{100ms, [this] { ++pushes; }, [this] { return now; },
                       [this](std::chrono::milliseconds delay) { timers.push_back(delay); }};
};

TEST_F(RefreshPacerTest, TheFirstRequestAndOneAfterAQuietIntervalArePushedAtOnce) {
    pacer.request();
    EXPECT_EQ(pushes, 1);
    advance(100ms);
    pacer.request();
    EXPECT_EQ(pushes, 2);
    EXPECT_TRUE(timers.empty());
}

TEST_F(RefreshPacerTest, ABurstInsideOneIntervalEndsInExactlyOneTrailingPush) {
    pacer.request();
    for (int i = 0; i < 30; ++i) {
        advance(3ms);
        pacer.request();
    }
    EXPECT_EQ(pushes, 1);
    // One timer, for the rest of the interval after the first push.
    ASSERT_EQ(timers, std::vector<std::chrono::milliseconds>{97ms});
    advance(7ms);
    fireTimer();
    EXPECT_EQ(pushes, 2);
    // Nothing asked for since: the next timer does nothing.
    pacer.timerFired();
    EXPECT_EQ(pushes, 2);
}

TEST_F(RefreshPacerTest, ARequestAfterTheTrailingPushWaitsForItsOwnInterval) {
    pacer.request();
    advance(10ms);
    pacer.request();
    advance(90ms);
    fireTimer();
    ASSERT_EQ(pushes, 2);
    advance(20ms);
    pacer.request();  // 20 ms after the trailing push
    EXPECT_EQ(pushes, 2);
    ASSERT_EQ(timers.size(), 2u);
    EXPECT_EQ(timers.back(), 80ms);
}

// A task that starts and ends inside one interval: both edges reach the
// page, and the timer already running adds no stale push after them.
TEST_F(RefreshPacerTest, UrgentRequestsArePushedAtOnceInsideTheInterval) {
    pacer.request();
    advance(10ms);
    pacer.request();  // trailing push pending
    advance(10ms);
    pacer.request(true);
    advance(10ms);
    pacer.request(true);
    EXPECT_EQ(pushes, 3);
    fireTimer();
    EXPECT_EQ(pushes, 3);
}

}  // namespace
}  // namespace mendly
