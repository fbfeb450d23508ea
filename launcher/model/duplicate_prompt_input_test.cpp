#include "model/duplicate_prompt_input.h"

#include <gtest/gtest.h>

#include "model/game_executable.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

ServerCatalog catalogOf(std::vector<std::string> names) {
    ServerCatalog catalog;
    for (auto& name : names) catalog.entries.push_back(ServerEntry{std::move(name), "", "s", "", "", ""});
    return catalog;
}

TEST(DefaultCopyName, TakesTheFirstNumberNoEntryUsesInAnyCase) {
    EXPECT_EQ(defaultCopyName(catalogOf({"retail"}), ServerEntry{"retail", "", "", "", "", ""}), "retail-copy-1");
    EXPECT_EQ(defaultCopyName(catalogOf({"retail", "Retail-Copy-1", "retail-copy-3"}),
                              ServerEntry{"retail", "", "", "", "", ""}),
              "retail-copy-2");
}

TEST(DefaultCopyName, FallsBackToPlainCopyWhenAllNineHundredNinetyNineAreTaken) {
    std::vector<std::string> names{"x"};
    for (int n = 1; n <= 999; ++n) names.push_back("x-copy-" + std::to_string(n));
    EXPECT_EQ(defaultCopyName(catalogOf(names), ServerEntry{"x", "", "", "", "", ""}), "x-copy");
}

TEST(DuplicatePromptCheck, BlankNamesAndNamesInUseKeepThePromptOpen) {
    const auto catalog = catalogOf({"retail", "pts"});
    for (const char* blank : {"", "  ", "\t \t"}) {
        const auto check = checkDuplicatePromptInput(blank, "d", catalog);
        ASSERT_TRUE(check.refusal) << blank;
        EXPECT_EQ(*check.refusal, (Notice{u"Please enter a name for the duplicated client.", u"Duplicate",
                                          NoticeIcon::Information}));
        EXPECT_FALSE(check.result.confirmed);
    }
    const auto taken = checkDuplicatePromptInput(" PTS\t", "d", catalog);
    ASSERT_TRUE(taken.refusal);
    EXPECT_EQ(*taken.refusal, (Notice{u"That name is already in use. Choose a different name.", u"Duplicate",
                                      NoticeIcon::Warning}));
}

TEST(DuplicatePromptCheck, TrimsOnlySpacesAndTabsAndAnEmptyDescriptionBecomesTheName) {
    const auto check = checkDuplicatePromptInput(" \tmine\t ", "  ", catalogOf({"retail"}));
    ASSERT_FALSE(check.refusal);
    EXPECT_TRUE(check.result.confirmed);
    EXPECT_EQ(check.result.name, "mine");
    EXPECT_EQ(check.result.description, "mine");
    // A line feed is not trimmed: it reaches the name check of the copy itself.
    EXPECT_EQ(checkDuplicatePromptInput("mine\n", "My copy ", catalogOf({})).result.name, "mine\n");
    EXPECT_EQ(checkDuplicatePromptInput("mine", " My copy ", catalogOf({})).result.description, "My copy");
}

class GameExecutableTest : public ::testing::Test {
protected:
    test::TempDir folder{"game_exe"};
};

TEST_F(GameExecutableTest, TheEntrysExecutableComesFirstThenTheFixedNamesInOrder) {
    test::writeFile(folder / "KaltrisClient.exe", "MZ");
    test::writeFile(folder / "Kaltris.exe", "MZ");
    EXPECT_EQ(findGameExecutable(folder.path(), ""), folder / "Kaltris.exe");
    test::writeFile(folder / "custom.exe", "MZ");
    EXPECT_EQ(findGameExecutable(folder.path(), "custom.exe"), folder / "custom.exe");
    EXPECT_EQ(findGameExecutable(folder.path(), "absent.exe"), folder / "Kaltris.exe");
}

TEST_F(GameExecutableTest, ANameInAnotherLetterCaseIsFoundByTheFolderScanOnly) {
    test::writeFile(folder / "Game.EXE", "MZ");
    fs::create_directories(folder / "sub");
    test::writeFile(folder / "sub" / "other.exe", "MZ");
    fs::create_directories(folder / "dir.exe");
    EXPECT_EQ(findGameExecutable(folder.path(), "game.exe"), folder / "Game.EXE");
    EXPECT_TRUE(findGameExecutable(folder.path(), "other.exe").empty());
    EXPECT_TRUE(findGameExecutable(folder.path(), "DIR.exe").empty());  // a folder is no program
}

TEST_F(GameExecutableTest, AnAbsoluteLaunchExecutableStaysInsideTheFolder) {
    test::TempDir outside{"game_exe_outside"};
    test::writeFile(outside / "evil.exe", "MZ");
    EXPECT_TRUE(findGameExecutable(folder.path(), (outside / "evil.exe").string()).empty());
    test::writeFile(folder / "Kaltris.exe", "MZ");
    EXPECT_EQ(findGameExecutable(folder.path(), (outside / "evil.exe").string()), folder / "Kaltris.exe");
}

TEST_F(GameExecutableTest, ALaunchExecutableLeadingOutOfTheFolderStartsNothing) {
    test::TempDir outside{"game_exe_outside"};
    test::writeFile(outside / "evil.exe", "MZ");
    test::writeFile(folder / "Kaltris.exe", "MZ");
    fs::create_symlink(outside / "evil.exe", folder / "linked.exe");
    const std::string climbing = (fs::path("..") / outside.path().filename() / "evil.exe").string();
    for (const std::string& name : {climbing, std::string("linked.exe"), std::string("..\\evil.exe")})
        EXPECT_TRUE(findGameExecutable(folder.path(), name).empty()) << name;  // not even the fixed names
}

TEST_F(GameExecutableTest, AMissingFolderFindsNothingAndExpectedSaysWhatWasLookedFor) {
    EXPECT_TRUE(findGameExecutable(folder / "gone", "kaltrisclient.exe").empty());
    EXPECT_EQ(expectedGameExecutable(folder / "gone", ""), u"(not configured)");
    EXPECT_EQ(expectedGameExecutable(folder / "gone", "k.exe"), (folder / "gone" / "k.exe").u16string());
}

}  // namespace
}  // namespace mendly
