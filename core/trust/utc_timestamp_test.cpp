#include "trust/utc_timestamp.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

TEST(UtcTimestamp, ReadsOnlyRealTimesInTheOneForm) {
    using namespace std::chrono;
    EXPECT_EQ(parseUtcTimestamp("1970-01-01T00:00:00Z"), sys_seconds{});
    EXPECT_EQ(parseUtcTimestamp("2028-02-29T23:59:59Z"), sys_days{2028y / February / 29} + 86399s);
    for (const char* bad : {"2027-02-29T00:00:00Z", "2026-13-01T00:00:00Z", "2026-12-09T24:00:00Z",
                            "2026-12-09T12:60:00Z", "2026-12-09T12:00:60Z", "2026-12-09 12:00:00Z",
                            "2026-12-09T12:00:00", "2026-12-09T12:00:00+00:00", "2026-1a-09T12:00:00Z", ""})
        EXPECT_FALSE(parseUtcTimestamp(bad).has_value()) << bad;
}

TEST(UtcTimestamp, FormatsWhatItReads) {
    for (const char* text : {"2026-12-09T18:32:07Z", "1999-01-31T00:00:00Z", "2100-03-01T23:59:59Z"})
        EXPECT_EQ(formatUtcTimestamp(*parseUtcTimestamp(text)), text);
}

}  // namespace
}  // namespace mendly
