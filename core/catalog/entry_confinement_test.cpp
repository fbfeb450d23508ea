// Catalog entries pasted from elsewhere that would lead out of their folders:
// left out of the catalog the programs use, refused by every opener, and
// ordinary entries kept as they are.
#include "catalog/entry_confinement.h"

#include "installations_test_fixture.h"
#include "log/log_file.h"
#include "log/text.h"

namespace mendly {
namespace {

using test::readFile;
using test::writeFile;

class EntryConfinement : public test::InstallationsTest {
protected:
    ServerEntry entry(std::string name, std::string exe, std::string installPath = "") const {
        return ServerEntry{std::move(name), "", "aurum", "https://p.test", std::move(exe), std::move(installPath)};
    }
};

TEST_F(EntryConfinement, NamesAndExecutablesThatLeadOutAreRefused) {
    writeFile(root / "outside" / "evil.exe", "not the game");
    std::filesystem::create_directories(clients() / "linked");
    std::filesystem::create_symlink(root / "outside" / "evil.exe", clients() / "linked" / "game.exe");
    struct Case {
        const char* what;
        ServerEntry entry;
        std::u16string problem;  // empty: stays inside
    };
    const std::u16string name = u"its name leads out of the clients folder";
    const std::u16string exe = u"its launchExecutable leads out of its installation";
    const Case cases[] = {
        {"ordinary", entry("My Server", "kaltrisclient.exe"), u""},
        {"executable in a sub-folder", entry("s", "bin/kaltrisclient.exe"), u""},
        {"no executable", entry("s", ""), u""},
        {"own folder elsewhere", entry("s", "game.exe", (root / "games" / "mine").string()), u""},
        {"name ..", entry("..", "kaltrisclient.exe"), name},
        {"name climbing out", entry("../../dotdot", "kaltrisclient.exe"), name},
        {"name climbing through a sub-folder", entry("x/../../y", "kaltrisclient.exe"), name},
        {"executable climbing out", entry("s", "../../outside/evil.exe"), exe},
        {"executable climbing out, Windows separators", entry("s", "..\\..\\outside\\evil.exe"), exe},
        // Joined to the folder as text: an absolute name stays below it.
        {"absolute executable", entry("s", (root / "outside" / "evil.exe").string()), u""},
        {"executable through a link out", entry("linked", "game.exe"), exe},
        {"executable out of an own folder", entry("s", "../evil.exe", (root / "outside" / "x").string()), exe},
    };
    for (const Case& c : cases) EXPECT_EQ(entryEscapeProblem(program(), c.entry), c.problem) << c.what;
    // The catalog judges the texts alone: a link planted in an installation
    // is for an update to replace, and the entry stays usable for it.
    EXPECT_EQ(entryEscapeProblem(program(), entry("linked", "game.exe"), EscapeCheck::Texts), u"");
}

TEST_F(EntryConfinement, TheProgramsCatalogLeavesThemOutLogsEachByNameAndKeepsTheFile) {
    test::TempDir logs{"confinement-log"};
    ASSERT_TRUE(LogFile::open(logs.path()));
    addCustom("Friends");
    addCustom("../../dotdot");
    ASSERT_TRUE(appendCustomEntry(program(), entry("evil", "../../outside/evil.exe")));
    const std::string list = readFile(customList());

    const ServerCatalog all = catalog();
    const ServerCatalog usable = loadUsableCatalog(program());
    (void)loadUsableCatalog(program());  // loaded again: logged once
    LogFile::close();

    ASSERT_EQ(usable.entries.size(), all.builtInCount + 1);
    EXPECT_EQ(usable.entries.back().name, "Friends");
    EXPECT_EQ(usable.builtInCount, all.builtInCount);
    EXPECT_EQ(readFile(customList()), list);  // the player's file is not rewritten
    const std::string log = readFile(logs / "launcher.log");
    const std::string dotdot = "WARNING: Catalog entry \"../../dotdot\" left out: its name leads out of the clients folder";
    EXPECT_NE(log.find(dotdot), std::string::npos) << log;
    EXPECT_EQ(log.find(dotdot), log.rfind(dotdot));
    EXPECT_NE(log.find("WARNING: Catalog entry \"evil\" left out: its launchExecutable leads out of its installation"),
              std::string::npos)
        << log;
    EXPECT_FALSE(std::filesystem::exists(root / "dotdot"));
}

}  // namespace
}  // namespace mendly
