#include "command_line.h"
#include "command_suggestion.h"
#include "log/text.h"

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
        {{u"--Version"}, K::Version},
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
        {u"--version", u"x"},
        {u"--add-server"},
        {u"--add-server", u"a", u"b", u"c"},
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

struct AddServerCase {
    std::vector<std::u16string> args;
    std::u16string name = {}, address = {}, serverFile = {}, key = {}, folder = {};
};

TEST(CommandLine, AddServerTakesANameAndAnAddressOrAServerFileWithOptionsAnywhereAfterIt) {
    const AddServerCase cases[] = {
        {{u"--add-server", u" Ember ", u" https://h:8080/ember "}, u"Ember", u"https://h:8080/ember"},
        {{u"--add-server", u"--KEY", u"abc=", u"e", u"http://h/e", u"--folder", u"/games/e"},
         u"e", u"http://h/e", u"", u"abc=", u"/games/e"},
        {{u"--add-server", u"e", u"--key=abc=", u"http://h/e", u"--folder= /g "}, u"e", u"http://h/e", u"", u"abc=",
         u"/g"},
        {{u"--add-server", u"ember.json"}, u"", u"", u"ember.json"},
        {{u"--add-server", u"--folder", u"x", u"ember.json", u"--skip-self-update"}, u"", u"", u"ember.json", u"",
         u"x"},
    };
    for (const AddServerCase& c : cases) {
        const CliCommand command = parseCommandLine(c.args);
        SCOPED_TRACE(c.args.size());
        EXPECT_EQ(command.error, u"");
        EXPECT_EQ(command.kind, K::AddServer);
        EXPECT_EQ(command.name, c.name);
        EXPECT_EQ(command.address, c.address);
        EXPECT_EQ(command.serverFile, c.serverFile);
        EXPECT_EQ(command.key, c.key);
        EXPECT_EQ(command.folder, c.folder);
    }
}

TEST(CommandLine, AddServerOptionsWithoutValuesOrTwiceAreRefusedWithTheirOwnSentence) {
    const std::pair<std::vector<std::u16string>, std::u16string> cases[] = {
        {{u"--add-server", u"e", u"http://h/e", u"--key"}, u"--key needs a value."},
        {{u"--add-server", u"e", u"http://h/e", u"--folder="}, u"--folder needs a value."},
        {{u"--add-server", u"e", u"--key", u"a", u"http://h/e", u"--key", u"b"}, u"--key may be given only once."},
        {{u"--add-server", u"e.json", u"--key", u"a"},
         u"A server file names its own key: give --key only with a name and an address."},
    };
    for (const auto& [args, error] : cases) EXPECT_EQ(parseCommandLine(args).error, error) << args.size();
}

// The line after the error: a slip of the keyboard is named with the command
// it was probably meant to be; a known command with the wrong operands shows
// its usage; anything else gets the error alone.
TEST(CommandLine, UnrecognizedCommandsSayWhatWasProbablyMeant) {
    const std::pair<std::vector<std::u16string>, std::vector<std::u16string>> cases[] = {
        {{u"--updte-all"}, {u"Unknown command \"--updte-all\". Did you mean --update-all?"}},
        {{u"--UPDATE-SINGEL", u"retail"}, {u"Unknown command \"--UPDATE-SINGEL\". Did you mean --update-single?"}},
        {{u"update-all"}, {u"Unknown command \"update-all\". Did you mean --update-all?"}},
        {{u"--hlep"}, {u"Unknown command \"--hlep\". Did you mean --help?"}},
        {{u"-version"}, {u"Unknown command \"-version\". Did you mean --version?"}},
        {{u"--add-sever", u"a", u"b"}, {u"Unknown command \"--add-sever\". Did you mean --add-server?"}},
        {{u"--update-single"}, {u"Usage: tidewright --update-single <name>"}},
        {{u"--Delete", u"a", u"b"}, {u"Usage: tidewright --delete <name>"}},
        {{u"--add-server", u"a", u"b", u"c"},
         {u"Usage: tidewright --add-server <name> <address> [--key <key>] [--folder <folder>]",
          u"   or: tidewright --add-server <server-file.json> [--folder <folder>]"}},
        {{u"--frobnicate"}, {}},
        {{u"retail"}, {}},
        {{u"-x"}, {}},
        {{u""}, {}},
        {{u"--help", u"x"}, {}},
    };
    for (const auto& [args, hint] : cases) {
        const CliCommand command = parseCommandLine(args);
        EXPECT_EQ(command.error, kUnrecognized) << toUtf8(args[0]);
        EXPECT_EQ(command.hint, hint) << toUtf8(args[0]);
    }
}

TEST(CommandSuggestion, EditDistanceCountsASwapOfNeighboursAsOneAndIgnoresAsciiCase) {
    EXPECT_EQ(editDistance(u"", u""), 0u);
    EXPECT_EQ(editDistance(u"abc", u""), 3u);
    EXPECT_EQ(editDistance(u"--hlep", u"--help"), 1u);
    EXPECT_EQ(editDistance(u"--HELP", u"--help"), 0u);
    EXPECT_EQ(editDistance(u"kitten", u"sitting"), 3u);
    EXPECT_EQ(editDistance(u"ca", u"abc"), 3u);  // no edit of a swapped pair twice
}

}  // namespace
}  // namespace mendly
