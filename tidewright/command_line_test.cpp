#include "command_line.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

using K = CliCommandKind;
const std::u16string kUnrecognized = u"Unrecognized command. Run tidewright --help.";

struct Case {
    std::vector<std::u16string> args;
    K kind;
    std::u16string name = {};
    std::u16string newName = {};
};

TEST(CommandLine, EveryRowOfTheGrammarInAnyLetterCase) {
    const Case cases[] = {
        {{}, K::List},
        {{u"--help"}, K::Help},
        {{u"-H"}, K::Help},
        {{u"/?"}, K::Help},
        {{u"--UPDATE-ALL"}, K::UpdateAll},
        {{u"--Update-Single", u"  retail\t"}, K::UpdateSingle, u"retail"},
        {{u"--duplicate", u"Ёлка", u" café copy "}, K::Duplicate, u"Ёлка", u"café copy"},
        {{u"--DELETE", u"mine"}, K::Delete, u"mine"},
        // Wide white space (ideographic, no-break) is trimmed too; inner spaces stay.
        {{u"--delete", u"\u3000\u00A0my copy\r\n"}, K::Delete, u"my copy"},
        // An operand of only spaces becomes an empty name, not an error.
        {{u"--update-single", u"   "}, K::UpdateSingle, u""},
    };
    for (const Case& c : cases) {
        const CliCommand command = parseCommandLine(c.args);
        EXPECT_EQ(command.kind, c.kind) << c.args.size() << " arguments";
        EXPECT_EQ(command.name, c.name);
        EXPECT_EQ(command.newName, c.newName);
        EXPECT_EQ(command.error, u"");
    }
}

TEST(CommandLine, WrongWordsAndOperandCountsAreUnrecognized) {
    const std::vector<std::u16string> cases[] = {
        {u"--help", u"x"},
        {u"/?", u""},
        {u"--update-all", u"retail"},
        {u"--update-single"},
        {u"--update-single", u"a", u"b"},
        {u"--duplicate", u"retail"},
        {u"--duplicate", u"retail", u"a", u"b"},
        {u"--delete"},
        {u"--delete", u"a", u"b"},
        {u"retail"},
        {u"-help"},
        {u""},
        {u"--\u0445elp"},             // only ASCII letters fold: Cyrillic "х" is another word
        {u" --skip-self-update"},  // only the whole, untrimmed option word is dropped
    };
    for (const auto& args : cases) EXPECT_EQ(parseCommandLine(args).error, kUnrecognized) << args.size();
}

TEST(CommandLine, SkipSelfUpdateIsDroppedAnywhereInAnyCaseAnyNumberOfTimes) {
    EXPECT_EQ(parseCommandLine({u"--SKIP-SELF-UPDATE", u"--update-all"}).kind, K::UpdateAll);
    EXPECT_EQ(parseCommandLine({u"--skip-self-update"}).kind, K::List);
    EXPECT_EQ(parseCommandLine({u"--help", u"--skip-self-update", u"--Skip-Self-Update"}).kind, K::Help);

    const CliCommand c = parseCommandLine({u"--duplicate", u"--skip-self-update", u"a", u"--SKIP-self-update", u"b"});
    EXPECT_EQ(c.kind, K::Duplicate);
    EXPECT_EQ(c.name, u"a");
    EXPECT_EQ(c.newName, u"b");
    // With a trailing space it is an ordinary operand, trimmed like any name.
    EXPECT_EQ(parseCommandLine({u"--update-single", u"--skip-self-update "}).name, u"--skip-self-update");
}

}  // namespace
}  // namespace mendly
