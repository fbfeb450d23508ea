#include "tasks/installation_dialogs.h"

#include <gtest/gtest.h>

#include "bridge/recording_page_host_testing.h"
#include "catalog/custom_list.h"
#include "catalog/server_catalog.h"
#include "launcher_app_messages.h"
#include "log/log_file.h"
#include "model/state_test_fixture.h"
#include "support/patch_fixture.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

// The built-in catalog (retail, pts) plus what customlist.json holds.
class InstallationDialogsTest : public test::LauncherStateTest {
protected:
    void SetUp() override {
        LauncherStateTest::SetUp();
        reload();
        ASSERT_TRUE(LogFile::open(program.path()));
    }
    void TearDown() override {
        LogFile::close();
        LauncherStateTest::TearDown();
    }
    void reload() { state.applyCatalog(loadServerCatalog(program.path())); }
    void addCustom(const std::string& name, const std::string& desc = "") {
        ASSERT_TRUE(appendCustomEntry(program.path(), ServerEntry{name, desc, "aurum", "http://127.0.0.1:1",
                                                                  "kaltrisclient.exe", ""}));
        reload();
    }
    std::int32_t indexOf(const std::string& name) {
        for (std::size_t i = 0; i < state.catalog.entries.size(); ++i)
            if (state.catalog.entries[i].name == name) return static_cast<std::int32_t>(i);
        return -1;
    }
    std::vector<std::string> customNames() {
        std::vector<std::string> names;
        if (auto list = readCustomList(program / "customlist.json"))
            for (const auto& entry : *list) names.push_back(entry.name);
        return names;
    }
    std::string lastLogLine() {
        auto lines = test::logMessages(program.path());
        return lines.empty() ? "" : lines.back();
    }

    test::RecordingPageHost host;
};

TEST_F(InstallationDialogsTest, DuplicateOfAnEntryThatIsNotInstalledOnlyExplains) {
    duplicateSelected(state, host);
    EXPECT_TRUE(host.prompts.empty());
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0], (Notice{u"Install this server before creating a duplicate.", u"Duplicate",
                                       NoticeIcon::Information}));
}

TEST_F(InstallationDialogsTest, ThePromptOffersTheNextFreeCopyNameAndTheDescriptionWithCopy) {
    addCustom("RETAIL-copy-1");
    install(0);
    duplicateSelected(state, host);
    ASSERT_EQ(host.prompts.size(), 1u);
    EXPECT_EQ(host.prompts[0].defaultName, "retail-copy-2");
    EXPECT_EQ(host.prompts[0].defaultDescription, "Kaltris Nexum 2.5 (Copy)");
    // Not confirmed: nothing else happens.
    EXPECT_TRUE(host.notices.empty());
    EXPECT_EQ(customNames(), std::vector<std::string>{"RETAIL-copy-1"});
}

TEST_F(InstallationDialogsTest, AConfirmedDuplicateIsCopiedListedAndSelected) {
    install(0);
    test::writeFile(state.installFolderOf(state.catalog.entries[0]) / "data" / "maps.pak", "archive");
    host.promptAnswer = {"mine", "My copy", true};
    duplicateSelected(state, host);
    EXPECT_TRUE(host.notices.empty());
    EXPECT_EQ(customNames(), std::vector<std::string>{"mine"});
    EXPECT_EQ(test::readFile(program / "clients" / "mine" / "data" / "maps.pak"), "archive");
    ASSERT_EQ(indexOf("mine"), 2);
    EXPECT_EQ(state.selected, 2);
    EXPECT_EQ(state.entryStatuses.size(), 3u);
    EXPECT_EQ(lastLogLine(), "Duplicated retail as mine");
    bool reloadPosted = false;
    for (const auto& message : host.box->take()) reloadPosted = reloadPosted || message.message == WM_RELOAD_SERVER_LIST;
    EXPECT_TRUE(reloadPosted);
}

TEST_F(InstallationDialogsTest, ANameTheCopyRefusesIsAWarningAndChangesNothing) {
    install(0);
    host.promptAnswer = {"a/b", "x", true};
    duplicateSelected(state, host);
    ASSERT_EQ(host.notices.size(), 1u);
    EXPECT_EQ(host.notices[0].caption, u"Duplicate");
    EXPECT_EQ(host.notices[0].icon, NoticeIcon::Warning);
    EXPECT_FALSE(host.notices[0].text.empty());
    EXPECT_EQ(lastLogLine(), "ERROR: Duplicate failed: " + toUtf8(host.notices[0].text));
    EXPECT_TRUE(customNames().empty());
    EXPECT_EQ(state.selected, 0);
}

TEST_F(InstallationDialogsTest, BuiltInEntriesAndCustomOnesNamedLikeThemCannotBeDeleted) {
    host.answerYes = true;
    deleteSelected(state, host);
    // A custom entry that carries a built-in name (in another case).
    ASSERT_TRUE(appendCustomEntry(program.path(), ServerEntry{"PTS", "", "aurum", "http://127.0.0.1:1", "k.exe", ""}));
    reload();
    state.selected = static_cast<std::int32_t>(state.catalog.entries.size()) - 1;
    deleteSelected(state, host);
    ASSERT_EQ(host.notices.size(), 2u);
    for (const auto& notice : host.notices)
        EXPECT_EQ(notice, (Notice{u"Built-in installations cannot be deleted.", u"Delete Installation",
                                  NoticeIcon::Information}));
    EXPECT_TRUE(host.questions.empty());
}

TEST_F(InstallationDialogsTest, DeleteAsksWithTheEntryAndItsFolderAndNoKeepsEverything) {
    addCustom("mine", "My copy");
    state.selected = indexOf("mine");
    install(static_cast<std::size_t>(state.selected));
    deleteSelected(state, host);
    ASSERT_EQ(host.questions.size(), 1u);
    const auto folder = program / "clients" / "mine";
    EXPECT_EQ(host.questions[0],
              (Notice{u"Delete this custom installation?\n\nMy copy\n" + folder.u16string() +
                          u"\n\nThe game files and the customlist.json entry will be removed. This cannot be undone.",
                      u"Delete Installation", NoticeIcon::Warning}));
    EXPECT_TRUE(fs::exists(folder / "kaltrisclient.exe"));
    EXPECT_EQ(customNames(), std::vector<std::string>{"mine"});
}

TEST_F(InstallationDialogsTest, DeleteAnsweredYesRemovesFolderAndEntryAndKeepsTheSelectionInRange) {
    addCustom("mine");
    state.selected = indexOf("mine");
    install(static_cast<std::size_t>(state.selected));
    host.answerYes = true;
    deleteSelected(state, host);
    EXPECT_TRUE(host.notices.empty());
    EXPECT_FALSE(fs::exists(program / "clients" / "mine"));
    EXPECT_TRUE(customNames().empty());
    EXPECT_EQ(state.catalog.entries.size(), 2u);
    EXPECT_TRUE(state.selectionValid());
    EXPECT_EQ(lastLogLine(), "Deleted custom installation: mine");
}

TEST_F(InstallationDialogsTest, NeitherRunsWhileBusy) {
    addCustom("mine");
    install(0);
    state.selected = 0;
    state.busy = true;
    host.answerYes = true;
    host.promptAnswer = {"other", "", true};
    duplicateSelected(state, host);
    state.selected = indexOf("mine");
    deleteSelected(state, host);
    EXPECT_TRUE(host.prompts.empty());
    EXPECT_TRUE(host.questions.empty());
    EXPECT_EQ(customNames(), std::vector<std::string>{"mine"});
}

}  // namespace
}  // namespace mendly
