#include "selfupdate/handover.h"

#include <gtest/gtest.h>

#include "command_line.h"  // keelswap's splitter: what the quoting must survive
#include "log/log_file.h"
#include "selfupdate/launcher_files.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

TEST(QuoteCommandLineArgument, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(quoteCommandLineArgument(""), "\"\"");
    EXPECT_EQ(quoteCommandLineArgument("/opt/kaltris/tidewright"), "/opt/kaltris/tidewright");
    EXPECT_EQ(quoteCommandLineArgument("/opt/Kaltris Nexum/tidewright"), "\"/opt/Kaltris Nexum/tidewright\"");
    EXPECT_EQ(quoteCommandLineArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(quoteCommandLineArgument("C:\\Games\\Client"), "C:\\Games\\Client");  // no doubling
}

TEST(QuoteCommandLineArgument, EverySplitBackToTheSameArguments) {
    const std::vector<std::string> args{"",           "plain",       "two words", "tab\there",   "q\"uote",
                                        "trailing\\", "a b\\",       "\\\"x",     "Ёлка дом",    "\"\"",
                                        "C:\\A B\\",  "x\\\\\"y z"};
    std::string line;
    for (const auto& a : args) line += (line.empty() ? "" : " ") + quoteCommandLineArgument(a);
    EXPECT_EQ(keelswap::splitCommandLine(line), args);
}

TEST(RestartCommandLine, KeepsArgumentsAndEndsWithTheSkipOptionOnce) {
    const auto line = restartCommandLine("/opt/k n/tidewright",
                                         {"tidewright", "--skip-self-update", "--update-single", "", "my entry",
                                          "--SKIP-SELF-UPDATE", "--skip-self-update"});
    EXPECT_EQ(line, "\"/opt/k n/tidewright\" --update-single \"\" \"my entry\" --SKIP-SELF-UPDATE --skip-self-update");
    // Quoted once more as the value of --exec, it still splits back to itself.
    const auto split = keelswap::splitCommandLine("keelswap --exec " + quoteCommandLineArgument(line));
    ASSERT_EQ(split.size(), 3u);
    EXPECT_EQ(split[2], line);
}

TEST(KeelswapArguments, ListTheJobsInOrderThenCleanupAndExec) {
    const auto args = keelswapArguments(4242, {{"/p/tidewright", "/p/.launcher_update/tidewright"},
                                               {"/p/keelswap", "/p/.launcher_update/keelswap"}},
                                        "/p/.launcher_update", "/p/tidewright --skip-self-update");
    const std::vector<std::string> expected{"--wait-pid", "4242", "--replace", "/p/tidewright", "--with",
                                            "/p/.launcher_update/tidewright", "--replace", "/p/keelswap", "--with",
                                            "/p/.launcher_update/keelswap", "--cleanup-dir", "/p/.launcher_update",
                                            "--exec", "/p/tidewright --skip-self-update"};
    EXPECT_EQ(args, expected);
    EXPECT_EQ(keelswapCommandLine("/p/keelswap", args),
              "/p/keelswap --wait-pid 4242 --replace /p/tidewright --with /p/.launcher_update/tidewright "
              "--replace /p/keelswap --with /p/.launcher_update/keelswap --cleanup-dir /p/.launcher_update "
              "--exec \"/p/tidewright --skip-self-update\"");
}

class HousekeepingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LogFile::open(dir.path())); }
    void TearDown() override { LogFile::close(); }
    std::string log() { return test::readFile(dir / "launcher.log"); }
    test::TempDir dir{"housekeeping"};
};

TEST_F(HousekeepingTest, LeftoverStagingFolderIsRemovedWithoutFollowingLinks) {
    test::TempDir outside{"outside"};
    test::writeFile(outside / "keep.txt", "keep");
    test::writeFile(launcherStagingFolder(dir.path()) / "tidewright", "half");
    std::filesystem::create_directory_symlink(outside.path(), launcherStagingFolder(dir.path()) / "link");
    removeLauncherStaging(dir.path());
    EXPECT_FALSE(std::filesystem::exists(launcherStagingFolder(dir.path())));
    EXPECT_EQ(test::readFile(outside / "keep.txt"), "keep");
    EXPECT_EQ(log().find("WARNING"), std::string::npos);
}

TEST_F(HousekeepingTest, HalfMadeCopiesOfAnInterruptedKeelswapAreRemovedAndNothingElse) {
    test::writeFile(dir / ".tidewright.keelswap-a1B2c3", "half a program");
    test::writeFile(dir / ".launcher.keelswap-zzzzzz", "half a program");
    test::writeFile(dir / ".keelswap.new.keelswap-Qq9Zx0", "half of keelswap's own new copy");
    test::writeFile(dir / ".tidewright.keelswap-toolong", "user file");
    test::writeFile(dir / "notes.keelswap-123456", "user file");
    test::writeFile(dir / "tidewright", "program");
    removeLauncherStaging(dir.path());
    EXPECT_FALSE(std::filesystem::exists(dir / ".tidewright.keelswap-a1B2c3"));
    EXPECT_FALSE(std::filesystem::exists(dir / ".launcher.keelswap-zzzzzz"));
    EXPECT_FALSE(std::filesystem::exists(dir / ".keelswap.new.keelswap-Qq9Zx0"));
    EXPECT_TRUE(std::filesystem::exists(dir / ".tidewright.keelswap-toolong"));
    EXPECT_TRUE(std::filesystem::exists(dir / "notes.keelswap-123456"));
    EXPECT_EQ(test::readFile(dir / "tidewright"), "program");
}

TEST_F(HousekeepingTest, PendingKeelswapIsMovedIntoPlace) {
    test::writeFile(keelswapPath(dir.path()), "old");
    test::writeFile(pendingKeelswapPath(dir.path()), "new");
    applyPendingKeelswap(dir.path());
    EXPECT_EQ(test::readFile(keelswapPath(dir.path())), "new");
    EXPECT_FALSE(std::filesystem::exists(pendingKeelswapPath(dir.path())));
    EXPECT_NE(log().find("Applied pending keelswap\n"), std::string::npos);
}

TEST_F(HousekeepingTest, NothingPendingLogsNothing) {
    applyPendingKeelswap(dir.path());
    removeLauncherStaging(dir.path());
    LogFile::close();
    EXPECT_EQ(log().find("keelswap"), std::string::npos);
}

TEST_F(HousekeepingTest, MissingKeelswapIsReportedAndNothingStarts) {
    EXPECT_FALSE(startKeelswap(dir.path(), launcherStagingFolder(dir.path()), {}));
    EXPECT_NE(log().find("ERROR: Missing " + keelswapPath(dir.path()).string()), std::string::npos);
}

}  // namespace
}  // namespace mendly
