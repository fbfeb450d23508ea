#include "patch/vfile/delta_codec.h"

#include <gtest/gtest.h>

#include <random>

namespace mendly::vfile {
namespace {

// Text-like content: words from a small vocabulary, as script tables and
// definitions are.
std::string words(std::size_t bytes, unsigned seed) {
    std::mt19937 rng(seed);
    static const char* vocabulary[] = {"ember ", "tide ", "keel ", "swap ", "nexum ", "42 ", "\n", "row, "};
    std::string out;
    while (out.size() < bytes) out += vocabulary[rng() % 8];
    out.resize(bytes);
    return out;
}

// The next version: a few bytes changed in place, a run inserted, a run
// removed, as a rebuilt table or executable differs from the last.
std::string edited(std::string base) {
    for (std::size_t at = 1000; at < base.size(); at += 50'000) base[at] ^= 0x5A;
    base.insert(base.size() / 3, words(4096, 7));
    base.erase(base.size() / 2, 3000);
    return base;
}

class DeltaCodec : public testing::Test {
protected:
    void SetUp() override {
        if (!deltaCodecAvailable()) GTEST_SKIP() << "no delta codec in this build";
    }
    DeltaOutcome rebuild(std::string_view base, std::string_view delta, std::uint64_t size, std::string& out) {
        out.assign(static_cast<std::size_t>(size), '\0');
        return applyDelta(base, delta, out.data(), size);
    }
};

TEST_F(DeltaCodec, AnEditedVersionTravelsAsAFewBytesAndRebuildsExactly) {
    const std::string base = words(2u << 20, 1), target = edited(base);
    const auto delta = makeDelta(base, target);
    ASSERT_TRUE(delta);
    EXPECT_LT(delta->size(), target.size() / 50) << delta->size();
    std::string rebuilt;
    ASSERT_EQ(rebuild(base, *delta, target.size(), rebuilt), DeltaOutcome::Rebuilt);
    EXPECT_EQ(rebuilt, target);

    // From nothing and to nothing.
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"", target.substr(0, 5000)}, {base, ""}}) {
        const auto whole = makeDelta(from, to);
        ASSERT_TRUE(whole);
        ASSERT_EQ(rebuild(from, *whole, to.size(), rebuilt), DeltaOutcome::Rebuilt);
        EXPECT_EQ(rebuilt, to);
    }
}

// A delta applied to content other than its base, cut short, altered, or
// promising another length never passes for the target.
TEST_F(DeltaCodec, AWrongBaseOrADamagedDeltaIsRefused) {
    const std::string base = words(256u << 10, 2), target = edited(base);
    const auto delta = makeDelta(base, target);
    ASSERT_TRUE(delta);
    std::string out;
    std::string changedBase = base;
    changedBase[100] ^= 1;  // a byte the target repeats
    EXPECT_EQ(rebuild(changedBase, *delta, target.size(), out), DeltaOutcome::Corrupt);
    EXPECT_EQ(rebuild(words(base.size(), 3), *delta, target.size(), out), DeltaOutcome::Corrupt);
    EXPECT_EQ(rebuild(base, delta->substr(0, delta->size() - 3), target.size(), out), DeltaOutcome::Corrupt);
    EXPECT_EQ(rebuild(base, delta->substr(0, 4), target.size(), out), DeltaOutcome::Corrupt);
    std::string flipped = *delta;
    flipped[flipped.size() / 2] ^= 0x20;
    EXPECT_NE(rebuild(base, flipped, target.size(), out), DeltaOutcome::Rebuilt);
    EXPECT_EQ(rebuild(base, *delta + "x", target.size(), out), DeltaOutcome::Corrupt);
    EXPECT_EQ(rebuild(base, "not a delta at all", target.size(), out), DeltaOutcome::Corrupt);
    EXPECT_EQ(rebuild(base, *delta, target.size() - 1, out), DeltaOutcome::WrongLength);
}

}  // namespace
}  // namespace mendly::vfile
