#include "net/retry_policy.h"

#include <gtest/gtest.h>

#include "log/text.h"

namespace mendly {
namespace {

using namespace std::chrono_literals;

TEST(RetryPolicy, PausesDoubleFromTheFirstAndTheLineSaysWhatHappensNext) {
    const RetryPolicy policy;
    EXPECT_EQ(policy.attempts, 3);
    EXPECT_EQ(policy.waitBefore(2), 1000ms);
    EXPECT_EQ(policy.waitBefore(3), 2000ms);
    EXPECT_EQ(policy.waitBefore(4), 4000ms);
    EXPECT_EQ(toUtf8(retryLine(1000ms, 2, 3, u"patch.example.org", networkFailure(7))).substr(0, 35),
              "Retrying in 1 s (attempt 2 of 3): p");
    EXPECT_EQ(toUtf8(retryLine(500ms, 3, 4, u"10.0.0.5:8080", statusFailure(503))),
              "Retrying in 0.5 s (attempt 3 of 4): 10.0.0.5:8080 answered HTTP 503");
    EXPECT_EQ(toUtf8(retryLine(1250ms, 2, 3, u"h", statusFailure(500))),
              "Retrying in 1.25 s (attempt 2 of 3): h answered HTTP 500");
}

TEST(RetryPolicy, NoAttemptPastTheCountOrTheTimeBudget) {
    RetryPolicy policy;
    const auto now = std::chrono::steady_clock::now();
    EXPECT_TRUE(policy.mayAttempt(2, now));
    EXPECT_TRUE(policy.mayAttempt(3, now));
    EXPECT_FALSE(policy.mayAttempt(4, now));
    EXPECT_FALSE(policy.mayAttempt(2, now - policy.budget)) << "a stall of 30 s is not waited for again";
}

TEST(RetryPolicy, APauseEndsAtOnceWhenCancelled) {
    const std::atomic<bool> cancelled{true};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(waitUnlessCancelled(std::chrono::minutes(5), &cancelled));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_TRUE(waitUnlessCancelled(0ms, nullptr));
}

}  // namespace
}  // namespace mendly
