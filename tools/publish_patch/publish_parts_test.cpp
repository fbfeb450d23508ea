// The publisher's smaller parts: payload patterns and the command line.
#include <gtest/gtest.h>

#include "payload_pattern.h"
#include "publish_command_line.h"

namespace {

using mendly::publish::matchesPayloadPattern;
using mendly::publish::parsePublishCommand;
using mendly::publish::PublishCommand;

TEST(PayloadPatternTest, StarSpansFoldersAndQuestionMarkOneCharacter) {
    EXPECT_TRUE(matchesPayloadPattern("gfx/*", "gfx/ui/a.dds"));
    EXPECT_TRUE(matchesPayloadPattern("*.dds", "models/meshes/x.dds"));
    EXPECT_TRUE(matchesPayloadPattern("*", "gfx/a"));
    EXPECT_TRUE(matchesPayloadPattern("gfx/?.dds", "gfx/a.dds"));
    EXPECT_FALSE(matchesPayloadPattern("gfx/?.dds", "gfx/ab.dds"));
    EXPECT_FALSE(matchesPayloadPattern("gfx/*", "gfxx/a.dds"));
    EXPECT_FALSE(matchesPayloadPattern("*.dds", "gfx/a.dds.bak"));
}

TEST(PayloadPatternTest, LettersMatchWithoutRegardToCase) {
    EXPECT_TRUE(matchesPayloadPattern("GFX/*.DDS", "gfx/ui/a.dds"));
}

TEST(PayloadPatternTest, ManyStarsOnALongNameDoNotBacktrackForever) {
    const std::string name(20000, 'a');
    EXPECT_FALSE(matchesPayloadPattern("*a*a*a*a*a*a*a*a*b", name));
    EXPECT_TRUE(matchesPayloadPattern("*a*a*a*a*a*a*a*a*", name));
}

class PublishCommandLineTest : public ::testing::Test {
protected:
    bool parse(std::vector<const char*> args) {
        args.insert(args.begin(), "publish_patch");
        return parsePublishCommand(static_cast<int>(args.size()), args.data(), command, error);
    }
    PublishCommand command;
    std::string error;
};

TEST_F(PublishCommandLineTest, TakesEveryOption) {
    ASSERT_TRUE(parse({"--client", "c", "--server", "aurum", "--root", "r", "--payload", "gfx/*", "--payload",
                       "*.dds", "--payload-all", "--force", "--threads", "3"}))
        << error;
    EXPECT_EQ(command.client, "c");
    EXPECT_EQ(command.server, "aurum");
    EXPECT_EQ(command.root, "r");
    EXPECT_EQ(command.options.payloadPatterns, (std::vector<std::string>{"gfx/*", "*.dds"}));
    EXPECT_TRUE(command.options.payloadAll);
    EXPECT_TRUE(command.options.force);
    EXPECT_EQ(command.options.threads, 3u);
}

TEST_F(PublishCommandLineTest, RefusesMissingPartsWithAReason) {
    EXPECT_FALSE(parse({"--client", "c", "--server", "aurum"}));
    EXPECT_EQ(error, "--client, --server and --root are required");
    EXPECT_FALSE(parse({"--client"}));
    EXPECT_EQ(error, "missing value after --client");
    EXPECT_FALSE(parse({"--client", "c", "--server", "s", "--root", "r", "--threads", "0"}));
    EXPECT_EQ(error, "--threads needs a number from 1 to 9999");
    EXPECT_FALSE(parse({"--client", "c", "--server", "s", "--root", "r", "--frobnicate"}));
    EXPECT_EQ(error, "unknown argument: --frobnicate");
}

TEST_F(PublishCommandLineTest, PreviewComparesWithAgainstOrElseTheRoot) {
    ASSERT_TRUE(parse({"--preview", "--against", "h", "--client", "c", "--server", "aurum", "--sign", "k.pem"}))
        << error;
    EXPECT_TRUE(command.preview);
    EXPECT_EQ(command.against, "h");
    EXPECT_TRUE(command.root.empty());

    ASSERT_TRUE(parse({"--preview", "--client", "c", "--server", "aurum", "--root", "r"})) << error;
    EXPECT_EQ(command.against, "r");
    ASSERT_TRUE(parse({"--preview", "--against", "h", "--client", "c", "--server", "aurum", "--root", "r"})) << error;
    EXPECT_EQ(command.against, "h");

    EXPECT_FALSE(parse({"--preview", "--client", "c", "--server", "aurum"}));
    EXPECT_EQ(error, "--preview needs --client, --server and --against HOSTDIR (or --root)");
    EXPECT_FALSE(parse({"--against", "h", "--client", "c", "--server", "aurum", "--root", "r"}));
    EXPECT_EQ(error, "--against goes only with --preview");
    EXPECT_FALSE(parse({"--preview", "--against", "", "--client", "c", "--server", "aurum"}));
    EXPECT_EQ(error, "--against needs a folder");
}

TEST_F(PublishCommandLineTest, HelpNeedsNothingElse) {
    ASSERT_TRUE(parse({"--help"}));
    EXPECT_TRUE(command.help);
}

}  // namespace
