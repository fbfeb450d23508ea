#include "catalog/delete_installation.h"

#include "catalog/delete_safety.h"
#include "catalog/duplicate_installation.h"
#include "installations_test_fixture.h"
#include "log/text.h"

namespace mendly {
namespace {

using test::readFile;
using test::writeFile;

constexpr char16_t kBuiltIn[] = u"Built-in installations cannot be deleted.";
constexpr char16_t kRefused[] = u"Refusing to delete that folder.";

class Deleting : public test::InstallationsTest {
protected:
    InstallationResult remove(std::string_view name) {
        const auto loaded = catalog();
        return deleteInstallation(program(), loaded, loaded.builtInCount, name, error);
    }
    std::size_t customCount() const {
        const auto list = readCustomList(customList());
        return list ? list->size() : 0;
    }
};

TEST_F(Deleting, BuiltInEntriesAreNeverDeleted) {
    installClient(clients() / "retail");
    EXPECT_EQ(remove("retail"), InstallationResult::BuiltIn);
    EXPECT_EQ(error, kBuiltIn);
    EXPECT_EQ(remove(" PTS "), InstallationResult::BuiltIn);
    EXPECT_TRUE(std::filesystem::exists(clients() / "retail" / "kaltrisclient.exe"));
}

TEST_F(Deleting, ACustomEntryNamedLikeABuiltInOneIsRefusedToo) {
    addCustom("Retail", (root / "elsewhere").string());
    EXPECT_EQ(remove("retail"), InstallationResult::BuiltIn);
    EXPECT_EQ(customCount(), 1u);
}

TEST_F(Deleting, AnEmptyNameIsNamedAsTwoQuotes) {
    EXPECT_EQ(remove(" \t"), InstallationResult::NoSuchEntry);
    EXPECT_EQ(error, u"No installation named \"\".");
}

TEST_F(Deleting, AnUnknownNameIsReportedTrimmed) {
    EXPECT_EQ(remove("  nope "), InstallationResult::NoSuchEntry);
    EXPECT_EQ(error, u"No custom installation named \"nope\".");
}

TEST_F(Deleting, ACustomEntryFoundInAnotherLetterCaseGoesWithItsFolder) {
    addCustom("Spare");
    installClient(clients() / "Spare");
    error = u"untouched";
    ASSERT_EQ(remove("sPARE"), InstallationResult::Done) << toUtf8(error);
    EXPECT_EQ(error, u"untouched");
    EXPECT_FALSE(std::filesystem::exists(clients() / "Spare"));
    EXPECT_TRUE(std::filesystem::exists(clients()));
    EXPECT_EQ(readFile(customList()), "{\n  \"servers\": []\n}");
}

TEST_F(Deleting, AFolderAlreadyRemovedByHandStillRemovesTheEntry) {
    addCustom("Spare");
    addCustom("Other");
    ASSERT_EQ(remove("Spare"), InstallationResult::Done);
    const auto list = readCustomList(customList());
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0].name, "Other");
}

TEST_F(Deleting, ACustomListThatVanishedMeanwhileIsReported) {
    addCustom("Spare");
    installClient(clients() / "Spare");
    const auto loaded = catalog();
    std::filesystem::remove(customList());
    EXPECT_EQ(deleteInstallation(program(), loaded, loaded.builtInCount, "Spare", error),
              InstallationResult::CustomListFailed);
    EXPECT_EQ(error, u"Could not update customlist.json.");
}

TEST_F(Deleting, ALinkInsideTheInstallationGoesButNotWhatItPointsTo) {
    addCustom("Spare");
    installClient(clients() / "Spare");
    writeFile(root / "outside" / "precious.txt", "keep me");
    writeFile(root / "single.txt", "keep me too");
    std::filesystem::create_directory_symlink(root / "outside", clients() / "Spare" / "linked");
    std::filesystem::create_symlink(root / "single.txt", clients() / "Spare" / "data" / "single.link");
    ASSERT_EQ(remove("Spare"), InstallationResult::Done);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(clients() / "Spare")));
    EXPECT_EQ(readFile(root / "outside" / "precious.txt"), "keep me");
    EXPECT_EQ(readFile(root / "single.txt"), "keep me too");
}

TEST_F(Deleting, AnInstallPathThatIsALinkRemovesOnlyTheLink) {
    installClient(clients() / "retail");
    for (const std::string suffix : {"", "/", "//"}) {
        std::filesystem::create_directory_symlink(clients() / "retail", root / "link");
        addCustom("Linked", (root / "link").string() + suffix);
        ASSERT_EQ(remove("Linked"), InstallationResult::Done) << suffix << " " << toUtf8(error);
        EXPECT_FALSE(std::filesystem::is_symlink(root / "link")) << suffix;
        EXPECT_EQ(readFile(clients() / "retail" / "kaltrisclient.exe"), "MZ client") << suffix;
    }
}

// Every way of naming a folder that must stay: the delete is refused with the
// expected result, the files in it remain and the entry stays listed.
TEST_F(Deleting, ProtectedFoldersAreRefusedAndNothingIsRemoved) {
    installClient(clients() / "retail");
    writeFile(program() / "tidewright", "program");
    writeFile(root / "outer" / "sibling.txt", "sibling");
    std::filesystem::create_directory_symlink(program(), root / "progLink");
    const std::string prog = program().string();
    struct Case {
        std::string installPath;
        InstallationResult result;
        const char16_t* text;
    };
    const Case cases[] = {
        {prog, InstallationResult::DeleteRefused, kRefused},
        {prog + "/", InstallationResult::DeleteRefused, kRefused},
        {prog + "/clients/..", InstallationResult::DeleteRefused, kRefused},
        {prog + "/..", InstallationResult::DeleteRefused, kRefused},
        {(root / "outer").string(), InstallationResult::DeleteRefused, kRefused},
        {root.path().string() + "//outer///", InstallationResult::DeleteRefused, kRefused},
        {prog + "/clients", InstallationResult::DeleteRefused, kRefused},
        {prog + "//clients/", InstallationResult::DeleteRefused, kRefused},
        {prog + "/clients/retail", InstallationResult::BuiltIn, kBuiltIn},
        {prog + "/clients/x/../retail", InstallationResult::BuiltIn, kBuiltIn},
        {prog + "//clients//retail", InstallationResult::BuiltIn, kBuiltIn},
        {prog + "/clients/retail/", InstallationResult::BuiltIn, kBuiltIn},
        {prog + "/CLIENTS/Retail", InstallationResult::BuiltIn, kBuiltIn},
        {prog + "/clients/pts", InstallationResult::BuiltIn, kBuiltIn},
        {(root / "progLink" / "clients" / "retail").string(), InstallationResult::BuiltIn, kBuiltIn},
        {(root / "progLink" / "clients").string(), InstallationResult::DeleteRefused, kRefused},
        {(root / "progLink" / ".").string(), InstallationResult::DeleteRefused, kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installPath);
        std::filesystem::remove(customList());
        addCustom("Danger", c.installPath);
        EXPECT_EQ(remove("Danger"), c.result);
        EXPECT_EQ(error, c.text);
        EXPECT_EQ(customCount(), 1u);
        EXPECT_EQ(readFile(clients() / "retail" / "kaltrisclient.exe"), "MZ client");
        EXPECT_EQ(readFile(program() / "tidewright"), "program");
        EXPECT_EQ(readFile(root / "outer" / "sibling.txt"), "sibling");
    }
}

TEST_F(Deleting, DuplicateThenDeleteLeavesTheSourceAndAnEmptyList) {
    installClient(clients() / "retail");
    ASSERT_EQ(duplicateInstallation(program(), catalog(), "retail", "Spare", "Spare copy", error),
              InstallationResult::Done);
    ASSERT_EQ(customCount(), 1u);
    ASSERT_EQ(remove("Spare"), InstallationResult::Done) << toUtf8(error);
    EXPECT_FALSE(std::filesystem::exists(clients() / "Spare"));
    EXPECT_EQ(readFile(customList()), "{\n  \"servers\": []\n}");
    EXPECT_EQ(readFile(clients() / "retail" / "data" / "maps.pak"), "archive bytes");
}

class DeleteSafety : public test::InstallationsTest {
protected:
    bool safe(const std::filesystem::path& folder) {
        const auto loaded = catalog();
        return isSafeToDelete(program(), loaded, loaded.builtInCount, folder, error);
    }
};

TEST_F(DeleteSafety, TheRootAndEmptyPathsAreRefused) {
    for (const char* folder : {"/", "//", "/tmp/..", ""}) {
        EXPECT_FALSE(safe(folder)) << folder;
        EXPECT_EQ(error, kRefused) << folder;
    }
}

TEST_F(DeleteSafety, BuiltInCountIsLimitedToTheCatalog) {
    const auto loaded = catalog();
    EXPECT_FALSE(isSafeToDelete(program(), loaded, 99, clients() / "pts", error));
    EXPECT_EQ(error, kBuiltIn);
    EXPECT_TRUE(isSafeToDelete(program(), loaded, 0, clients() / "pts", error));
}

TEST_F(DeleteSafety, AnOrdinaryFolderUnderClientsIsAccepted) {
    EXPECT_TRUE(safe(clients() / "Spare"));
    EXPECT_TRUE(safe(clients() / "retail2"));
    EXPECT_TRUE(safe(root / "games" / "kaltris"));
}

TEST_F(DeleteSafety, RemovalTargetKeepsALinkAtTheEnd) {
    std::filesystem::create_directory_symlink(clients().parent_path(), root / "progLink");
    EXPECT_EQ(removalTarget(root.path().string() + "//progLink/"), root / "progLink");
    EXPECT_EQ(removalTarget(root / "progLink" / "clients"), std::filesystem::weakly_canonical(program()) / "clients");
}

}  // namespace
}  // namespace mendly
