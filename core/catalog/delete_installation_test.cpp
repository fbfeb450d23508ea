#include "catalog/delete_installation.h"

#include <functional>

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

// Makes `folder` the current folder for the life of the object.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::filesystem::path& folder) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() { std::filesystem::current_path(saved_); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    std::filesystem::path saved_;
};

// A delete removes a game installation or an empty folder, nothing else. The
// current folder is one that looks like an installation: a relative
// installPath that were read from there would remove it.
TEST_F(Deleting, FoldersThatAreNoGameInstallationAreRefusedAndKept) {
    writeFile(root / "docs" / "letter.txt", "dear user");
    writeFile(root / "docs" / "photos" / "cat.jpg", "cat");
    writeFile(root / "notes.txt", "a file, not a folder");
    writeFile(program() / "docs" / "manual.txt", "manual");
    writeFile(program() / "tidewright.exe", "program");  // the program folder looks installed
    writeFile(root / "outer" / "old.pak", "archive");     // and so does the one holding it
    installClient(root / "work");
    const CurrentFolder current(root / "work");
    const std::u16string notInstalled = u"That folder does not look like a game installation: ";
    const struct {
        const char* what;
        std::string installPath;
        std::u16string text;
    } cases[] = {
        {"a documents folder", (root / "docs").string(), notInstalled + toWide((root / "docs").string())},
        {"the same with a trailing separator", (root / "docs").string() + "/",
         notInstalled + toWide((root / "docs").string())},
        {"a file", (root / "notes.txt").string(), notInstalled + toWide((root / "notes.txt").string())},
        {"a relative path, from the program folder", "docs", notInstalled + toWide((program() / "docs").string())},
        {"the program folder as .", ".", kRefused},
        {"the program folder", program().string(), kRefused},
        {"the folder holding the program folder", (root / "outer").string(), kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(customList());
        addCustom("Mine", c.installPath);
        const std::string listed = readFile(customList());
        EXPECT_EQ(remove("Mine"), InstallationResult::DeleteRefused);
        EXPECT_EQ(error, c.text);
        EXPECT_EQ(readFile(customList()), listed);
    }
    EXPECT_EQ(readFile(root / "docs" / "letter.txt"), "dear user");
    EXPECT_EQ(readFile(root / "docs" / "photos" / "cat.jpg"), "cat");
    EXPECT_EQ(readFile(root / "notes.txt"), "a file, not a folder");
    EXPECT_EQ(readFile(program() / "docs" / "manual.txt"), "manual");
    EXPECT_EQ(readFile(program() / "tidewright.exe"), "program");
    EXPECT_EQ(readFile(root / "outer" / "old.pak"), "archive");
    EXPECT_EQ(readFile(root / "work" / "kaltrisclient.exe"), "MZ client");
}

// What may go: an installation by any of the rules, what a delete cut short
// leaves of one (the items that mark it go last), an empty folder and a link
// that leads nowhere. Relative paths count from the program folder.
TEST_F(Deleting, InstallationsAndEmptyFoldersAreRemoved) {
    const auto plant = [](const std::filesystem::path& folder, const char* file) {
        writeFile(folder / file, "x");
        writeFile(folder / "data" / "user.ini", "x");
    };
    const struct {
        const char* what;
        std::function<void(const std::filesystem::path&)> make;
        bool relative;
    } cases[] = {
        {"a whole installation", [&](const auto& f) { installClient(f); }, false},
        {"the launch executable in capitals", [&](const auto& f) { plant(f, "KALTRISCLIENT.EXE"); }, false},
        {"only an archive left", [](const auto& f) { writeFile(f / "maps.pak", "x"); }, false},
        {"an empty folder", [](const auto& f) { std::filesystem::create_directories(f); }, false},
        {"a link to nowhere", [&](const auto& f) { std::filesystem::create_directory_symlink(root / "gone", f); },
         false},
        {"an installation named relative to the program folder", [&](const auto& f) { installClient(f); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto folder = c.relative ? program() / "games" / "mine" : root / "games" / "mine";
        std::filesystem::create_directories(folder.parent_path());
        c.make(folder);
        std::filesystem::remove(customList());
        addCustom("Mine", c.relative ? "games/mine" : folder.string());
        ASSERT_EQ(remove("Mine"), InstallationResult::Done) << toUtf8(error);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder)));
        EXPECT_TRUE(std::filesystem::exists(folder.parent_path()));
        EXPECT_EQ(customCount(), 0u);
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
