// Hostile installation names and install paths from customlist.json: what a
// delete or a duplicate does with each of them, and that nothing outside the
// folder it names is ever touched.
#include <string>
#include <vector>

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
const std::u16string kNotAnInstallation = u"That folder does not look like a game installation: ";
constexpr char16_t kInvalidCharacters[] = u"Names cannot include \\ / : * ? \" < > |.";

std::string withNul(const std::string& before, const std::string& after = "") {
    std::string text = before;
    text.push_back('\0');
    return text + after;
}

// Around the program folder (root/outer/prog): files that no delete of a
// custom entry may reach, and a link in an ordinary games folder that points
// at a folder far away from it.
class HostilePaths : public test::InstallationsTest {
protected:
    void SetUp() override {
        InstallationsTest::SetUp();
        installClient(clients() / "retail");
        writeFile(program() / "tidewright", "program");
        writeFile(root / "outer" / "sibling" / "keep.txt", "sibling");
        writeFile(root / "far" / "away" / "target" / "keep.txt", "far target");
        writeFile(root / "far" / "away" / "neighbour.txt", "far neighbour");
        std::filesystem::create_directories(root / "games");
        std::filesystem::create_directory_symlink(root / "far" / "away" / "target", root / "games" / "outlink");
    }

    void expectNothingOutsideWasTouched() {
        EXPECT_EQ(readFile(clients() / "retail" / "kaltrisclient.exe"), "MZ client");
        EXPECT_EQ(readFile(program() / "tidewright"), "program");
        EXPECT_EQ(readFile(root / "outer" / "sibling" / "keep.txt"), "sibling");
        EXPECT_EQ(readFile(root / "far" / "away" / "target" / "keep.txt"), "far target");
        EXPECT_EQ(readFile(root / "far" / "away" / "neighbour.txt"), "far neighbour");
        EXPECT_TRUE(std::filesystem::is_symlink(root / "games" / "outlink"));
    }

    void restoreLink() {
        if (!std::filesystem::is_symlink(root / "games" / "outlink"))
            std::filesystem::create_directory_symlink(root / "far" / "away" / "target", root / "games" / "outlink");
    }

    InstallationResult remove(std::string_view name) {
        const auto loaded = catalog();
        return deleteInstallation(program(), loaded, loaded.builtInCount, name, error);
    }

    std::size_t customCount() const {
        const auto list = readCustomList(customList());
        return list ? list->size() : 0;
    }
};

// Each custom entry is refused: the result and sentence are as listed, the
// entry stays in customlist.json, and every protected file is still there.
TEST_F(HostilePaths, DeletingEntriesThatNameFoldersOutsideTheirOwnIsRefused) {
    const std::string prog = program().string();
    const std::string games = (root / "games").string();
    std::filesystem::create_directory_symlink(root / "far" / "away", clients() / "sublink");
    installClient(program() / "CLIENTS" / "x");
    struct Case {
        const char* what;
        std::string name;
        std::string installPath;
        InstallationResult result;
        std::u16string text;
    };
    const std::vector<Case> cases = {
        // A NUL ends the path for the system: everything after it is ignored
        // there, while the checks would see a different folder.
        {"NUL after the program folder", "Danger", withNul(prog), InstallationResult::DeleteRefused, kRefused},
        {"NUL after a built-in folder", "Danger", withNul(prog + "/clients/retail", "x"),
         InstallationResult::DeleteRefused, kRefused},
        {"NUL after clients/", "Danger", withNul(prog + "/clients/", "x"), InstallationResult::DeleteRefused,
         kRefused},
        {"NUL in a name without installPath", withNul("retail", "2"), "", InstallationResult::DeleteRefused,
         kRefused},
        {"a name that is only NUL", withNul(""), "", InstallationResult::DeleteRefused, kRefused},
        // Names are folder names below clients/; these would leave it.
        {"name ..", "..", "", InstallationResult::DeleteRefused, kRefused},
        {"name .", ".", "", InstallationResult::DeleteRefused, kRefused},
        {"name climbing to a sibling", "../../sibling", "", InstallationResult::DeleteRefused, kRefused},
        {"name climbing through a sub-folder", "x/../../../sibling", "", InstallationResult::DeleteRefused,
         kRefused},
        {"name climbing back into clients/retail", "x/../retail", "", InstallationResult::BuiltIn, kBuiltIn},
        {"name reaching a folder that differs from clients in case", "../CLIENTS/x", "",
         InstallationResult::DeleteRefused, kRefused},
        {"name through a link inside clients", "sublink/target", "", InstallationResult::DeleteRefused, kRefused},
        // "." and ".." after a link mean the linked folder (or its parent) to
        // the system but the link's own folder to the checks.
        {"link followed by .", "Danger", games + "/outlink/.", InstallationResult::DeleteRefused, kRefused},
        {"link followed by ..", "Danger", games + "/outlink/..", InstallationResult::DeleteRefused, kRefused},
        {"link followed by .. and a name", "Danger", games + "/outlink/../target",
         InstallationResult::DeleteRefused, kRefused},
        {"link followed by ./", "Danger", games + "/outlink/./", InstallationResult::DeleteRefused, kRefused},
        // The link alone would go, but it leads to a folder that is no game's.
        {"a link to a folder of other things", "Danger", games + "/outlink", InstallationResult::DeleteRefused,
         kNotAnInstallation + toWide(games) + u"/outlink"},
        {"that link with trailing separators", "Danger", games + "/outlink//", InstallationResult::DeleteRefused,
         kNotAnInstallation + toWide(games) + u"/outlink"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(customList());
        addCustom(c.name, c.installPath);
        EXPECT_EQ(remove(c.name), c.result);
        EXPECT_EQ(error, c.text);
        EXPECT_EQ(customCount(), 1u);
        expectNothingOutsideWasTouched();
    }
    EXPECT_EQ(readFile(program() / "CLIENTS" / "x" / "kaltrisclient.exe"), "MZ client");
}

// Paths that look unusual but name their own folder: the folder goes, and
// nothing else does.
TEST_F(HostilePaths, UnusualButContainedPathsAreDeleted) {
    const std::string prog = program().string();
    struct Case {
        const char* what;
        std::string name;
        std::string installPath;
        std::filesystem::path removed;
    };
    const std::vector<Case> cases = {
        {"dots resolved inside clients", "Danger", prog + "/clients/sub/../Spare", clients() / "Spare"},
        {"a name in a sub-folder of clients", "sub/Spare", "", clients() / "sub" / "Spare"},
        {"a backslash is part of the name here", "a\\b", "", clients() / "a\\b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        restoreLink();
        if (!std::filesystem::is_symlink(c.removed)) installClient(c.removed);
        std::filesystem::remove(customList());
        addCustom(c.name, c.installPath);
        ASSERT_EQ(remove(c.name), InstallationResult::Done) << toUtf8(error);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(c.removed)));
        EXPECT_EQ(customCount(), 0u);
        restoreLink();
        expectNothingOutsideWasTouched();
    }
}

TEST_F(HostilePaths, AnOverlongInstallPathCountsAsAlreadyRemoved) {
    addCustom("Long", (root / std::string(300, 'x') / "game").string());
    EXPECT_EQ(remove("Long"), InstallationResult::Done) << toUtf8(error);
    EXPECT_EQ(customCount(), 0u);
    expectNothingOutsideWasTouched();
}

// Relative install paths count from the program folder, whichever folder the
// program was started from; the rules apply to the folder they resolve to.
class RelativeInstallPaths : public HostilePaths {
protected:
    void SetUp() override {
        HostilePaths::SetUp();
        saved = std::filesystem::current_path();
        std::filesystem::create_directories(root / "outer" / "work");
        std::filesystem::current_path(root / "outer" / "work");
    }
    void TearDown() override { std::filesystem::current_path(saved); }
    std::filesystem::path saved;
};

TEST_F(RelativeInstallPaths, ResolveAgainstTheProgramFolderBeforeTheRulesApply) {
    struct Case {
        std::string installPath;
        InstallationResult result;
        const char16_t* text;
    };
    const Case cases[] = {
        {".", InstallationResult::DeleteRefused, kRefused},
        {"..", InstallationResult::DeleteRefused, kRefused},
        {"../prog", InstallationResult::DeleteRefused, kRefused},
        {"clients", InstallationResult::DeleteRefused, kRefused},
        {"clients/retail", InstallationResult::BuiltIn, kBuiltIn},
        {"./clients/../clients/retail/", InstallationResult::BuiltIn, kBuiltIn},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installPath);
        std::filesystem::remove(customList());
        addCustom("Danger", c.installPath);
        EXPECT_EQ(remove("Danger"), c.result);
        EXPECT_EQ(error, c.text);
        expectNothingOutsideWasTouched();
    }
    std::filesystem::remove(customList());
    installClient(program() / "game");
    installClient(root / "outer" / "work" / "game");
    addCustom("Danger", "game");
    ASSERT_EQ(remove("Danger"), InstallationResult::Done) << toUtf8(error);
    EXPECT_FALSE(std::filesystem::exists(program() / "game"));
    EXPECT_EQ(readFile(root / "outer" / "work" / "game" / "kaltrisclient.exe"), "MZ client");
}

TEST_F(HostilePaths, DeleteSafetyRefusesANulInAnyFolderText) {
    const auto loaded = catalog();
    for (const auto& folder : {withNul((root / "games").string()), withNul((root / "games").string(), "/x"),
                               withNul("relative")}) {
        EXPECT_FALSE(isSafeToDelete(program(), loaded, loaded.builtInCount, folder, error));
        EXPECT_EQ(error, kRefused);
    }
}

// Two custom entries whose names differ only in letter case are one entry to
// every lookup: the first one's folder goes with both entries, and the second
// one's folder (a different folder on a case-sensitive file system) stays.
TEST_F(HostilePaths, NamesDifferingOnlyInCaseAreOneInstallation) {
    addCustom("Spare");
    addCustom("SPARE");
    installClient(clients() / "Spare");
    installClient(clients() / "SPARE");
    ASSERT_EQ(remove("spare"), InstallationResult::Done) << toUtf8(error);
    EXPECT_FALSE(std::filesystem::exists(clients() / "Spare"));
    EXPECT_EQ(readFile(clients() / "SPARE" / "kaltrisclient.exe"), "MZ client");
    EXPECT_EQ(customCount(), 0u);
}

class HostileNewNames : public HostilePaths {
protected:
    InstallationResult duplicate(std::string_view newName) {
        return duplicateInstallation(program(), catalog(), "retail", newName, "", error);
    }
    std::vector<std::filesystem::path> clientFolders() const {
        std::vector<std::filesystem::path> found;
        for (const auto& item : std::filesystem::directory_iterator(clients())) found.push_back(item.path());
        return found;
    }
};

// A new name becomes a folder below clients/: every name that could be read
// as anything else is refused before a folder is made.
TEST_F(HostileNewNames, DuplicatingUnderANameThatIsNotOneFolderNameIsRefused) {
    struct Case {
        std::string name;
        const char16_t* text;
    };
    const std::vector<Case> cases = {
        {"", u"That name cannot be used for an installation."},
        {"  ", u"That name cannot be used for an installation."},
        {".", u"That name cannot be used for an installation."},
        {" .. ", u"That name cannot be used for an installation."},
        {"../sibling", kInvalidCharacters},
        {"..\\sibling", kInvalidCharacters},
        {"/tmp/x", kInvalidCharacters},
        {"sub/x", kInvalidCharacters},
        {"C:x", kInvalidCharacters},
        {withNul("Spare"), kInvalidCharacters},
        {withNul("Spare", "x"), kInvalidCharacters},
        {"Spare\nx", kInvalidCharacters},
        {"...", u"Names cannot end with a space or a period."},
        {"x.", u"Names cannot end with a space or a period."},
        {std::string(81, 'x'), u"That name is too long."},
        {"nul.txt", u"That name is reserved by Windows."},
    };
    const auto before = clientFolders();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(duplicate(c.name), InstallationResult::NameNotAllowed);
        EXPECT_EQ(error, c.text);
    }
    EXPECT_EQ(clientFolders(), before);
    EXPECT_FALSE(std::filesystem::exists(customList()));
    expectNothingOutsideWasTouched();
}

TEST_F(HostileNewNames, ANameTakenInAnotherAsciiCaseIsInUseButOtherLettersAreNot) {
    ASSERT_EQ(duplicate("Spare"), InstallationResult::Done) << toUtf8(error);
    EXPECT_EQ(duplicate("SPARE"), InstallationResult::NameInUse);
    EXPECT_FALSE(std::filesystem::exists(clients() / "SPARE"));
    // Case folding covers the ASCII letters only: Ä and ä are two names.
    ASSERT_EQ(duplicate("\xC3\x84rger"), InstallationResult::Done) << toUtf8(error);
    ASSERT_EQ(duplicate("\xC3\xA4rger"), InstallationResult::Done) << toUtf8(error);
    EXPECT_EQ(customCount(), 3u);
}

}  // namespace
}  // namespace mendly
