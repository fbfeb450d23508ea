#include "net/transfer_pace.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

using namespace std::chrono_literals;
using Clock = TransferPace::Clock;

struct Arrival {
    std::chrono::milliseconds every;
    std::uint64_t bytes;
    bool stalls;
};

// Feeds `bytes` every `every` for two minutes, looking once per 250 ms.
bool stallsUnder(const Arrival& a) {
    TransferPace pace(30s, 1024);
    const Clock::time_point start{};
    pace.restart(start);
    auto nextArrival = start + a.every;
    for (auto now = start; now < start + 120s; now += 250ms) {
        while (nextArrival <= now) {
            pace.received(a.bytes);
            nextArrival += a.every;
        }
        if (pace.stalled(now)) return true;
    }
    return false;
}

TEST(TransferPace, ATrickleIsAStallAndASteadyFlowIsNot) {
    const Arrival cases[] = {
        {1000ms, 2, true},      // two bytes a second
        {10s, 300, true},       // bursts adding up to 900 bytes per window
        {29s, 1000, true},      // just under the minimum per window
        {5s, 180, false},       // 1,080 bytes per window
        {20s, 1024, false},     // the minimum in every window
        {1ms, 1 << 20, false},  // a fast transfer
    };
    for (const auto& c : cases)
        EXPECT_EQ(stallsUnder(c), c.stalls) << c.every.count() << " ms, " << c.bytes << " bytes";
}

TEST(TransferPace, TheWindowStartsWhenTheConnectionIsMade) {
    TransferPace pace(30s, 1024);
    const Clock::time_point start{};
    EXPECT_FALSE(pace.stalled(start + 600s));  // still connecting
    pace.restart(start + 600s);
    EXPECT_FALSE(pace.stalled(start + 629s));
    EXPECT_TRUE(pace.stalled(start + 630s));
    pace.received(5000);
    pace.restart(start + 631s);  // a redirect: a new connection gets a whole window
    EXPECT_FALSE(pace.stalled(start + 660s));
    EXPECT_TRUE(pace.stalled(start + 661s));
}

}  // namespace
}  // namespace mendly
