#include "patch/transfer_estimate.h"

#include <gtest/gtest.h>

#include <vector>

namespace mendly {
namespace {

using std::chrono::milliseconds;

// Feeds samples every 500 ms at the given bytes per second (one rate per
// sample) and returns what each sample left as speed and time left.
struct Seen {
    double speed;
    std::optional<std::int64_t> left;
};
std::vector<Seen> feed(const std::vector<std::uint64_t>& rates, std::uint64_t total) {
    TransferEstimate estimate;
    std::vector<Seen> seen;
    std::uint64_t bytes = 0;
    estimate.add(milliseconds(0), 0);
    for (std::size_t i = 0; i < rates.size(); ++i) {
        bytes += rates[i] / 2;
        estimate.add(milliseconds(500 * static_cast<long>(i + 1)), bytes);
        seen.push_back({estimate.bytesPerSecond(), estimate.secondsLeft(total - bytes)});
    }
    return seen;
}

TEST(TransferEstimate, ASteadyRateGivesItsSpeedAndTimeLeftOnceSettled) {
    const auto seen = feed(std::vector<std::uint64_t>(12, 2000), 100000);
    EXPECT_EQ(seen[0].speed, 0);  // half a second is not enough to tell
    EXPECT_DOUBLE_EQ(seen[1].speed, 2000);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_FALSE(seen[i].left) << i;  // before 3 s
    ASSERT_TRUE(seen[5].left);
    EXPECT_EQ(*seen[5].left, (100000 - 6000) / 2000);
    EXPECT_EQ(*seen[11].left, (100000 - 12000) / 2000);
}

TEST(TransferEstimate, AnUnsteadyRateGivesNoTimeLeftUntilItSettles) {
    // A rate that doubles every half second for 5 s, then a steady one.
    std::vector<std::uint64_t> rates = {500, 1000, 2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000};
    rates.insert(rates.end(), 20, 4000);
    const auto seen = feed(rates, 1000000);
    for (std::size_t i = 0; i < 10; ++i) EXPECT_FALSE(seen[i].left) << i;
    EXPECT_TRUE(seen.back().left);
    EXPECT_NEAR(seen.back().speed, 4000, 1);  // the window holds only the steady part now
}

TEST(TransferEstimate, TheAverageCoversOnlyTheRecentWindow) {
    std::vector<std::uint64_t> rates(20, 1000);
    rates.insert(rates.end(), 20, 5000);
    const auto seen = feed(rates, 10000000);
    EXPECT_NEAR(seen.back().speed, 5000, 1);
}

TEST(TimeLeftText, SecondsMinutesAndHours) {
    const std::pair<std::int64_t, std::u16string_view> cases[] = {
        {0, u"0 s"}, {59, u"59 s"}, {60, u"1 min"}, {61, u"2 min"}, {3599, u"1 h 00 min"},
        {3600, u"1 h 00 min"}, {3661, u"1 h 02 min"}, {-5, u"0 s"}};
    for (const auto& [seconds, text] : cases) EXPECT_EQ(formatTimeLeft(seconds), text) << seconds;
}

}  // namespace
}  // namespace mendly
