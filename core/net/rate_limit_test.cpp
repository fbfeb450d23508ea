#include "net/rate_limit.h"

#include <gtest/gtest.h>

#include <optional>

namespace mendly {
namespace {

TEST(RateLimitText, ReadsSuffixesAndRefusesWhatIsNoRate) {
    const struct {
        std::u16string_view text;
        std::optional<std::uint64_t> bytes;
    } cases[] = {
        {u"5M", 5u << 20},          {u"5m", 5u << 20},         {u" 750k ", 750u << 10},
        {u"1.5G", 3ull << 29},      {u"65536", 65536},         {u"16K", 16384},
        {u"0.5M", 512u << 10},      {u"1024G", 1ull << 40},    {u"", std::nullopt},
        {u"M", std::nullopt},       {u"5MB", std::nullopt},    {u"-5M", std::nullopt},
        {u"15K", std::nullopt},     {u"1025G", std::nullopt},  {u"1.0000001K", std::nullopt},
        {u"5..2M", std::nullopt},   {u"99999999999999", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseRateLimit(c.text), c.bytes) << std::string(c.text.begin(), c.text.end());
}

TEST(RateLimitText, FormatsTheShortestFormThatReadsBack) {
    for (const std::uint64_t bytes : {5ull << 20, 1536ull << 10, 3ull << 30, 20000ull, 1ull << 40}) {
        EXPECT_EQ(parseRateLimit(formatRateLimit(bytes)), bytes);
    }
    EXPECT_EQ(formatRateLimit(5u << 20), u"5M");
    EXPECT_EQ(formatRateLimit(1536u << 10), u"1536K");
    EXPECT_EQ(formatRateLimit(20000), u"20000");
}

// Bookings from any number of transfers add up on one schedule: the sum
// keeps to the rate, and an idle schedule grants at most the burst.
TEST(TransferRateLimitSchedule, BookingsOfAllTransfersShareOneRate) {
    TransferRateLimit limit(1000);
    const auto t0 = TransferRateLimit::Clock::time_point{} + std::chrono::hours(1);
    // Idle: the first booking may start a burst's length before now.
    EXPECT_EQ(limit.reserve(100, t0), t0);
    // Three transfers book 500 bytes each at the same moment: due one after another.
    EXPECT_EQ(limit.reserve(500, t0), t0 + std::chrono::milliseconds(500));
    EXPECT_EQ(limit.reserve(500, t0), t0 + std::chrono::milliseconds(1000));
    EXPECT_EQ(limit.reserve(500, t0), t0 + std::chrono::milliseconds(1500));
    // Much later the schedule is idle again and does not grant the gap.
    const auto t1 = t0 + std::chrono::seconds(60);
    EXPECT_EQ(limit.reserve(1000, t1), t1 + std::chrono::milliseconds(900));
}

TEST(TransferRateLimitSchedule, ACancelEndsTheWaitAtOnce) {
    TransferRateLimit limit(kMinimumRateLimit);
    const std::atomic<bool> cancel{true};
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(limit.take(1u << 30, &cancel));  // a booking due in hours
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
}

}  // namespace
}  // namespace mendly
