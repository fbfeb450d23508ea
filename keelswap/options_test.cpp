#include "options.h"

#include <gtest/gtest.h>

namespace mendly::keelswap {
namespace {

using Args = std::vector<std::string>;

TEST(ProcessIdParsing, ReadsDecimalAfterBlanksAndAPlusSign) {
    EXPECT_EQ(parseProcessId("1234"), 1234u);
    EXPECT_EQ(parseProcessId(" \t+42"), 42u);
    EXPECT_EQ(parseProcessId("0"), 0u);
    EXPECT_EQ(parseProcessId("-0"), 0u);
}

TEST(ProcessIdParsing, StopsAtTheFirstNonDigit) {
    EXPECT_EQ(parseProcessId("17abc"), 17u);
    EXPECT_EQ(parseProcessId("9 9"), 9u);
}

TEST(ProcessIdParsing, AcceptsTheLargestUnsigned32BitValue) {
    EXPECT_EQ(parseProcessId("4294967295"), 4294967295u);
}

TEST(ProcessIdParsing, RefusesTextWithoutDigitsNegativesAndValuesTooLarge) {
    EXPECT_FALSE(parseProcessId(""));
    EXPECT_FALSE(parseProcessId("   "));
    EXPECT_FALSE(parseProcessId("abc"));
    EXPECT_FALSE(parseProcessId("+"));
    EXPECT_FALSE(parseProcessId("-5"));
    EXPECT_FALSE(parseProcessId("4294967296"));
    EXPECT_FALSE(parseProcessId("99999999999999999999999"));
}

class ArgumentParsing : public ::testing::Test {};

TEST_F(ArgumentParsing, ReadsTheCommandLineThatTheCallerBuilds) {
    const auto options = parseArguments({"--wait-pid", "4711", "--replace", "/p/tidewright", "--with",
                                         "/p/.launcher_update/tidewright", "--replace", "/p/keelswap", "--with",
                                         "/p/.launcher_update/keelswap", "--cleanup-dir", "/p/.launcher_update",
                                         "--exec", "\"/p/tidewright --skip-self-update\""});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->waitPid, 4711u);
    ASSERT_EQ(options->jobs.size(), 2u);
    EXPECT_EQ(options->jobs[0].target, "/p/tidewright");
    EXPECT_EQ(options->jobs[0].source, "/p/.launcher_update/tidewright");
    EXPECT_EQ(options->jobs[1].target, "/p/keelswap");
    EXPECT_EQ(options->jobs[1].source, "/p/.launcher_update/keelswap");
    EXPECT_EQ(options->cleanupDir, "/p/.launcher_update");
    EXPECT_EQ(options->execLine, "\"/p/tidewright --skip-self-update\"");
}

TEST_F(ArgumentParsing, OneCopyJobAloneIsEnoughAndMeansNoWait) {
    const auto options = parseArguments({"--replace", "t", "--with", "s"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->waitPid, 0u);
    EXPECT_TRUE(options->cleanupDir.empty());
    EXPECT_TRUE(options->execLine.empty());
}

TEST_F(ArgumentParsing, TheLastOfARepeatedOptionWins) {
    const auto options = parseArguments({"--wait-pid", "1", "--cleanup-dir", "first", "--exec", "one", "--replace",
                                         "t", "--with", "s", "--wait-pid", "2", "--cleanup-dir", "second", "--exec",
                                         "two"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->waitPid, 2u);
    EXPECT_EQ(options->cleanupDir, "second");
    EXPECT_EQ(options->execLine, "two");
}

TEST_F(ArgumentParsing, NoArgumentsOrNoCopyJobIsAUsageError) {
    EXPECT_FALSE(parseArguments({}));
    EXPECT_FALSE(parseArguments({"--wait-pid", "12", "--cleanup-dir", "d", "--exec", "x"}));
}

TEST_F(ArgumentParsing, ReplaceWithoutAnExactWithIsAUsageError) {
    EXPECT_FALSE(parseArguments({"--replace", "t"}));
    EXPECT_FALSE(parseArguments({"--replace", "t", "--with"}));
    EXPECT_FALSE(parseArguments({"--replace", "t", "s"}));
    EXPECT_FALSE(parseArguments({"--replace", "t", "--whit", "s"}));
    EXPECT_FALSE(parseArguments({"--replace", "t", "--WITH", "s"}));
}

TEST_F(ArgumentParsing, AnOptionWithoutItsValueIsAUsageError) {
    EXPECT_FALSE(parseArguments({"--replace", "t", "--with", "s", "--exec"}));
    EXPECT_FALSE(parseArguments({"--replace", "t", "--with", "s", "--cleanup-dir"}));
    EXPECT_FALSE(parseArguments({"--replace", "t", "--with", "s", "--wait-pid"}));
}

TEST_F(ArgumentParsing, AnUnknownWordAnywhereIsAUsageError) {
    EXPECT_FALSE(parseArguments({"--replace", "t", "--with", "s", "extra"}));
    EXPECT_FALSE(parseArguments({"/p/keelswap", "--replace", "t", "--with", "s"}));
    EXPECT_FALSE(parseArguments({"--Replace", "t", "--with", "s"}));
}

TEST_F(ArgumentParsing, AnUnreadableProcessIdentifierIsAUsageError) {
    EXPECT_FALSE(parseArguments({"--wait-pid", "abc", "--replace", "t", "--with", "s"}));
    EXPECT_FALSE(parseArguments({"--wait-pid", "-1", "--replace", "t", "--with", "s"}));
    EXPECT_FALSE(parseArguments({"--wait-pid", "4294967296", "--replace", "t", "--with", "s"}));
}

TEST_F(ArgumentParsing, TextThatIsNotUtf8IsAUsageError) {
    EXPECT_FALSE(parseArguments({"--replace", "t\xFF", "--with", "s"}));
    EXPECT_FALSE(parseArguments({"--replace", "t", "--with", "s\xC3"}));
    EXPECT_FALSE(parseArguments({"--replace", "t", "--with", "s", "--cleanup-dir", "\xC0\xAF"}));
    EXPECT_FALSE(parseArguments({"--replace", "t", "--with", "s", "--exec", "prog \xED\xA0\x80"}));
}

}  // namespace
}  // namespace mendly::keelswap
