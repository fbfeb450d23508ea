#include "command_line.h"

#include <gtest/gtest.h>

namespace mendly::keelswap {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLineSplitting, SpacesAndTabsSeparateArgumentsAndSurroundingBlanksAreIgnored) {
    EXPECT_EQ(splitCommandLine("  prog  a\tb \t c  "), (Args{"prog", "a", "b", "c"}));
}

TEST(CommandLineSplitting, AnEmptyOrBlankLineHasNoArguments) {
    EXPECT_TRUE(splitCommandLine("").empty());
    EXPECT_TRUE(splitCommandLine(" \t ").empty());
}

TEST(CommandLineSplitting, AQuotedProgramPathKeepsItsSpaces) {
    EXPECT_EQ(splitCommandLine(R"("/opt/Kaltris Nexum/tidewright" --update-single "my server" --skip-self-update)"),
              (Args{"/opt/Kaltris Nexum/tidewright", "--update-single", "my server", "--skip-self-update"}));
}

TEST(CommandLineSplitting, QuotedPartsJoinTheTextAroundThem) {
    EXPECT_EQ(splitCommandLine(R"(ab"c d"e f)"), (Args{"abc de", "f"}));
}

TEST(CommandLineSplitting, TwoQuotesMakeAnEmptyArgument) {
    EXPECT_EQ(splitCommandLine(R"(prog "" x "")"), (Args{"prog", "", "x", ""}));
}

TEST(CommandLineSplitting, BackslashQuoteIsALiteralQuote) {
    EXPECT_EQ(splitCommandLine(R"(prog "say \"hi\" now" a\"b)"), (Args{"prog", R"(say "hi" now)", R"(a"b)"}));
}

TEST(CommandLineSplitting, BackslashesNotBeforeAQuoteAreLiteral) {
    EXPECT_EQ(splitCommandLine(R"(C:\dir\prog.exe "C:\Program Files\x" a\\b)"),
              (Args{R"(C:\dir\prog.exe)", R"(C:\Program Files\x)", R"(a\\b)"}));
}

TEST(CommandLineSplitting, EvenBackslashesBeforeAQuoteAreHalvedAndTheQuoteDelimits) {
    EXPECT_EQ(splitCommandLine(R"("a\\" b)"), (Args{R"(a\)", "b"}));
    EXPECT_EQ(splitCommandLine(R"(x\\\\"y z")"), (Args{R"(x\\y z)"}));
}

TEST(CommandLineSplitting, OddBackslashesBeforeAQuoteAreHalvedAndTheQuoteIsLiteral) {
    EXPECT_EQ(splitCommandLine(R"(a\\\"b c)"), (Args{R"(a\"b)", "c"}));
}

TEST(CommandLineSplitting, DoubledQuoteInsideQuotesIsOneQuoteAndTheQuotedPartGoesOn) {
    EXPECT_EQ(splitCommandLine(R"("a""b c" d)"), (Args{R"(a"b c)", "d"}));
}

TEST(CommandLineSplitting, AnUnclosedQuoteRunsToTheEndOfTheLine) {
    EXPECT_EQ(splitCommandLine(R"(prog "open  end)"), (Args{"prog", "open  end"}));
}

TEST(CommandLineSplitting, NonAsciiCharactersArriveAsTheSameUtf8Bytes) {
    EXPECT_EQ(splitCommandLine("\"/srv/K\xC3\xA4ltris Nexum/tidewright\" \xCE\xA9mega \"\xE2\x80\x94 \xF0\x9F\x98\x80\""),
              (Args{"/srv/K\xC3\xA4ltris Nexum/tidewright", "\xCE\xA9mega", "\xE2\x80\x94 \xF0\x9F\x98\x80"}));
}

}  // namespace
}  // namespace mendly::keelswap
