#include "call_limits.h"

#include <gtest/gtest.h>

#include <string>

namespace mendly {
namespace {

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(CallLimits, NestingIsCountedOutsideStringsOnly) {
    struct Case {
        std::string json;
        std::size_t depth;
    };
    const Case cases[] = {
        {"7", 0},
        {R"({"name":"x","args":[]})", 2},
        {R"({"name":"x","args":[[1,{"a":[2]}]]})", 5},
        {R"({"name":"[[[[","args":["{{{\"[[["]})", 2},  // brackets and escaped quotes inside strings
        {R"(["a\\",[1]])", 2},                          // an escaped backslash ends before the quote
        {"]]]][", 1},                                   // stray closers never go below zero
    };
    for (const auto& c : cases) EXPECT_EQ(jsonNestingDepth(c.json, 100), c.depth) << c.json;
}

TEST(CallLimits, DeepCallsAreRefusedWithoutWalkingThemWhole) {
    EXPECT_EQ(callLimitViolation("{\"name\":\"x\",\"args\":" + nested(kMaxCallDepth - 1) + "}"), "");
    EXPECT_EQ(callLimitViolation("{\"name\":\"x\",\"args\":" + nested(kMaxCallDepth) + "}"), "nested too deeply");
    // The count stops one past the limit however deep the text goes.
    EXPECT_EQ(jsonNestingDepth(nested(100000), kMaxCallDepth), kMaxCallDepth + 1);
    EXPECT_EQ(callLimitViolation(nested(100000)), "nested too deeply");
}

TEST(CallLimits, LargeCallsAreRefusedBySize) {
    const std::string fits = R"({"name":"x","args":[")" + std::string(kMaxCallBytes - 24, 'a') + R"("]})";
    ASSERT_EQ(fits.size(), kMaxCallBytes);
    EXPECT_EQ(callLimitViolation(fits), "");
    EXPECT_EQ(callLimitViolation(fits + " "), "too large");
}

}  // namespace
}  // namespace mendly
