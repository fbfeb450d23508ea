#include "model/shortcuts.h"

#include <gtest/gtest.h>

#include "model/fake_shell_opener.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using test::FakeShellOpener;

TEST(ParseShortcuts, ReadsEntriesInFileOrder) {
    const auto shortcuts = parseShortcuts(R"({"shortcuts":[
        {"name":"Forum","type":"Webpage","exec":"https://forum.example.invalid/"},
        {"name":"Tool","exec":"C:/Tools/tool.exe"},
        {"name":"Wiki","url":"https://wiki.example.invalid/"}]})");
    ASSERT_EQ(shortcuts.size(), 3u);
    EXPECT_EQ(shortcuts[0], (Shortcut{"Forum", ShortcutKind::Webpage, "https://forum.example.invalid/"}));
    EXPECT_EQ(shortcuts[1], (Shortcut{"Tool", ShortcutKind::Program, "C:/Tools/tool.exe"}));
    EXPECT_EQ(shortcuts[2], (Shortcut{"Wiki", ShortcutKind::Webpage, "https://wiki.example.invalid/"}));
}

TEST(ParseShortcuts, RootThatIsNotAnObjectWithAnArrayGivesNoShortcuts) {
    EXPECT_TRUE(parseShortcuts(R"([{"name":"A","exec":"a"}])").empty());
    EXPECT_TRUE(parseShortcuts(R"({"shortcuts":{"name":"A","exec":"a"}})").empty());
    EXPECT_TRUE(parseShortcuts(R"({"other":[{"name":"A","exec":"a"}]})").empty());
    EXPECT_TRUE(parseShortcuts("").empty());
}

TEST(ParseShortcuts, SyntaxErrorAnywhereDiscardsEverything) {
    EXPECT_TRUE(parseShortcuts(R"({"shortcuts":[{"name":"A","exec":"a"},{"name":"B",]})").empty());
    EXPECT_TRUE(parseShortcuts(R"({"shortcuts":[{"name":"A","exec":"a"}]} trailing)").empty());
    // Comments are not allowed.
    EXPECT_TRUE(parseShortcuts("{\"shortcuts\":[{\"name\":\"A\",\"exec\":\"a\"}] // c\n}").empty());
}

TEST(ParseShortcuts, TypeNamesAreMatchedIgnoringAsciiCase) {
    const auto shortcuts = parseShortcuts(R"({"shortcuts":[
        {"name":"a","type":"web","exec":"x"},
        {"name":"b","type":"URL","exec":"x"},
        {"name":"c","type":"WEBPAGE","exec":"x"},
        {"name":"d","type":5,"exec":"x"},
        {"name":"e","type":"Website","exec":"x"},
        {"name":"f","type":"Webpage","exec":"x"}]})");
    ASSERT_EQ(shortcuts.size(), 6u);
    EXPECT_EQ(shortcuts[0].kind, ShortcutKind::Webpage);
    EXPECT_EQ(shortcuts[1].kind, ShortcutKind::Webpage);
    EXPECT_EQ(shortcuts[2].kind, ShortcutKind::Webpage);
    EXPECT_EQ(shortcuts[3].kind, ShortcutKind::Program);
    EXPECT_EQ(shortcuts[4].kind, ShortcutKind::Program);
    EXPECT_EQ(shortcuts[5].kind, ShortcutKind::Webpage);
}

TEST(ParseShortcuts, UrlIsUsedOnlyWhenExecIsNoStringAndAlwaysMakesAWebpage) {
    const auto shortcuts = parseShortcuts(R"({"shortcuts":[
        {"name":"a","type":"Program","exec":7,"url":"https://a.invalid/"},
        {"name":"b","exec":"prog","url":"https://b.invalid/"}]})");
    ASSERT_EQ(shortcuts.size(), 2u);
    EXPECT_EQ(shortcuts[0], (Shortcut{"a", ShortcutKind::Webpage, "https://a.invalid/"}));
    EXPECT_EQ(shortcuts[1], (Shortcut{"b", ShortcutKind::Program, "prog"}));
}

TEST(ParseShortcuts, ElementsWithoutUsableNameOrTargetAreSkipped) {
    const auto shortcuts = parseShortcuts(R"({"shortcuts":[
        "text", 5, null,
        {"exec":"x"},
        {"name":3,"exec":"x"},
        {"name":"","exec":"x"},
        {"name":"no target"},
        {"name":"empty","exec":""},
        {"name":"kept","exec":"y"}]})");
    ASSERT_EQ(shortcuts.size(), 1u);
    EXPECT_EQ(shortcuts[0].name, "kept");
}

TEST(LoadShortcuts, MissingFileGivesNoShortcutsAndPresentFileIsRead) {
    test::TempDir folder;
    EXPECT_TRUE(loadShortcuts(folder.path()).empty());
    test::writeFile(folder / "shortcuts.json", R"({"shortcuts":[{"name":"Ö-Tool","exec":"/opt/ö/tool"}]})");
    const auto shortcuts = loadShortcuts(folder.path());
    ASSERT_EQ(shortcuts.size(), 1u);
    EXPECT_EQ(shortcuts[0], (Shortcut{"Ö-Tool", ShortcutKind::Program, "/opt/ö/tool"}));
}

TEST(ShortcutWorkingFolder, IsTheTextBeforeTheLastSeparator) {
    EXPECT_EQ(shortcutWorkingFolder(u"C:/Tools/tool.exe"), std::filesystem::path("C:/Tools"));
    EXPECT_EQ(shortcutWorkingFolder(u"C:\\Games\\x\\run.exe"), std::filesystem::path("C:\\Games\\x"));
    EXPECT_EQ(shortcutWorkingFolder(u"/opt/a\\b/c"), std::filesystem::path("/opt/a\\b"));
    EXPECT_EQ(shortcutWorkingFolder(u"tool.exe"), std::nullopt);
    EXPECT_EQ(shortcutWorkingFolder(u"/tool"), std::nullopt);
}

class RunShortcutTest : public ::testing::Test {
protected:
    FakeShellOpener opener;
    test::TempDir folder;
};

TEST_F(RunShortcutTest, WebpageGoesToTheUriHandlerAndReportsItsAnswer) {
    const Shortcut page{"Forum", ShortcutKind::Webpage, "https://forum.example.invalid/"};
    auto launch = runShortcut(opener, page);
    EXPECT_TRUE(launch.result);
    EXPECT_FALSE(launch.warning);
    EXPECT_EQ(opener.calls, (std::vector<std::string>{"uri https://forum.example.invalid/"}));

    opener.accept = false;
    launch = runShortcut(opener, page);
    EXPECT_FALSE(launch.result);
    EXPECT_FALSE(launch.warning);  // a refused web page shows nothing
}

TEST_F(RunShortcutTest, WindowsProgramIsSpawnedInItsOwnFolder) {
    const auto launch = runShortcut(opener, {"Tool", ShortcutKind::Program, "C:/Tools/tool.exe"});
    EXPECT_TRUE(launch.result);
    EXPECT_EQ(opener.calls, (std::vector<std::string>{"spawn C:/Tools/tool.exe in C:/Tools"}));
}

TEST_F(RunShortcutTest, ExecutableFileIsSpawnedAndDocumentIsOpened) {
    const auto program = folder / "run.sh";
    test::writeFile(program, "#!/bin/sh\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    const auto document = folder / "readme.txt";
    test::writeFile(document, "text");

    EXPECT_TRUE(runShortcut(opener, {"Run", ShortcutKind::Program, program.string()}).result);
    EXPECT_TRUE(runShortcut(opener, {"Doc", ShortcutKind::Program, document.string()}).result);
    EXPECT_TRUE(runShortcut(opener, {"Dir", ShortcutKind::Program, folder.path().string()}).result);
    EXPECT_EQ(opener.calls, (std::vector<std::string>{"spawn " + program.string() + " in " + folder.path().string(),
                                                      "path " + document.string(),
                                                      "path " + folder.path().string()}));
}

TEST_F(RunShortcutTest, RefusedProgramWarnsAndStillReturnsTrue) {
    opener.accept = false;
    const auto launch = runShortcut(opener, {"Tool", ShortcutKind::Program, "C:/Tools/tool.exe"});
    EXPECT_TRUE(launch.result);
    ASSERT_TRUE(launch.warning);
    EXPECT_EQ(*launch.warning, (Notice{u"Could not start:\nC:/Tools/tool.exe", u"Shortcuts", NoticeIcon::Warning}));
}

TEST_F(RunShortcutTest, EmptyTargetReturnsFalseWithoutAskingTheShell) {
    EXPECT_FALSE(runShortcut(opener, {"x", ShortcutKind::Program, ""}).result);
    EXPECT_TRUE(opener.calls.empty());
}

}  // namespace
}  // namespace mendly
