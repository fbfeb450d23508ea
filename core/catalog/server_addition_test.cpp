// Adding a server: what is refused before anything is fetched or written, what
// the address check is asked, and what customlist.json holds afterwards.
#include "catalog/server_addition.h"

#include <gtest/gtest.h>

#include "catalog/installations_test_fixture.h"
#include "catalog/manifest_trust.h"
#include "catalog/server_file.h"
#include "log/text.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

constexpr char kTestKey[] = "NdsySCPy0CwuZjs6ACQLfxNm68BrsP/CzSX0yBceaps=";
constexpr char16_t kTestKeyWide[] = u"NdsySCPy0CwuZjs6ACQLfxNm68BrsP/CzSX0yBceaps=";

class AddingServers : public test::InstallationsTest {
protected:
    // The address check: records what it was asked and answers `answer`.
    PatchAddressCheck check() {
        return [this](const ServerEntry& entry, const TrustedKeys& trust) {
            checked.push_back(entry);
            trusts.push_back(trust);
            return answer;
        };
    }
    ServerAdditionResult add(ServerRequest request) {
        return addServer(program(), catalog(), request, check());
    }

    std::u16string answer;
    std::vector<ServerEntry> checked;
    std::vector<TrustedKeys> trusts;
};

TEST_F(AddingServers, ANewListIsMadeWithTheEntryTheAddressDescribes) {
    const auto result = add({u" Ember Main ", u"https://patch.test:8080/ember/ ", u" " + std::u16string(kTestKeyWide), {}});
    ASSERT_EQ(result.outcome, ServerAddition::Added) << toUtf8(result.sentence);
    const ServerEntry expected{"Ember Main", "Ember Main", "ember", "https://patch.test:8080", "kaltrisclient.exe", "",
                               kTestKey};
    EXPECT_EQ(result.entry, expected);
    ASSERT_EQ(checked.size(), 1u);
    EXPECT_EQ(checked[0], expected);
    EXPECT_TRUE(trusts[0].required);  // its own key signs its manifests
    EXPECT_EQ(trusts[0].server, "ember");
    EXPECT_EQ(readCustomList(customList()), std::vector<ServerEntry>{expected});
}

TEST_F(AddingServers, TheManifestAddressAndAFolderOfThePlayersChoiceAreTaken) {
    const fs::path folder = root / "games" / "ember";
    const auto result = add({u"e", u"http://patch.test/pub/ember.MANIFEST", u"", folder});
    ASSERT_EQ(result.outcome, ServerAddition::Added) << toUtf8(result.sentence);
    EXPECT_EQ(result.entry.patchBaseUrl, "http://patch.test/pub");
    EXPECT_EQ(result.entry.server, "ember");
    EXPECT_EQ(result.entry.installPath, folder.string());
    EXPECT_FALSE(trusts[0].required);
}

TEST_F(AddingServers, TheOtherEntriesKeepEveryByte) {
    const std::string before = "{\"servers\": [ {\"server\":\"aurum\",\"name\":\"mine\",\"patchBaseUrl\":\"https://p.test\","
                               "\"extra\":true} ] }\r\n";
    writeFile(customList(), before);
    ASSERT_EQ(add({u"e", u"https://patch.test/e", u"", {}}).outcome, ServerAddition::Added);
    const std::string after = readFile(customList());
    const std::size_t end = before.find("} ]") + 1;
    EXPECT_EQ(after.substr(0, end), before.substr(0, end));
    EXPECT_EQ(after.substr(after.size() - 6), " ] }\r\n");
    EXPECT_EQ(readCustomList(customList())->size(), 2u);
}

TEST_F(AddingServers, AListThatCannotBeReadIsRefusedBeforeTheCheckAndLeftUntouched) {
    for (const std::string& bad : {std::string("{\"servers\": [ {\"name\": \"half"), std::string("  "),
                                   std::string("{\"servers\":[{\"name\":\"no server\"}]}")}) {
        writeFile(customList(), bad);
        const auto result = add({u"e", u"https://patch.test/e", u"", {}});
        EXPECT_EQ(result.outcome, ServerAddition::ListRefused);
        EXPECT_EQ(result.sentence, u"customlist.json could not be read as a server list, so the server was not added. "
                                   u"The file was left as it is.");
        EXPECT_EQ(readFile(customList()), bad);
    }
    fs::remove(customList());
    fs::create_directory(customList());  // unreadable as a file
    EXPECT_EQ(add({u"e", u"https://patch.test/e", u"", {}}).outcome, ServerAddition::ListRefused);
    EXPECT_TRUE(checked.empty());
}

struct Refusal {
    const char* what;
    ServerRequest request;
    ServerAddition outcome;
    std::u16string sentence;
};

TEST_F(AddingServers, RequestsThatCannotBeSavedAreRefusedWithoutFetchingAnything) {
    addCustom("friends");
    // A hand-made entry the catalog leaves out still holds its name in the file.
    std::string list = readFile(customList());
    list.insert(list.rfind(']'), ",{\"name\":\"hidden\",\"server\":\"s\",\"patchBaseUrl\":\"https://p.test\","
                                 "\"launchExecutable\":\"../../evil.exe\"}");
    writeFile(customList(), list);
    const std::u16string inUse = u"That name is already in use. Choose a different name.";
    const std::u16string badAddress =
        u"The patch address must be an http or https address that ends with the server's folder, for example "
        u"https://patch.example.org:8080/aurum.";
    const Refusal refusals[] = {
        {"a built-in name in capitals", {u"RETAIL", u"https://p.test/x"}, ServerAddition::NameRefused, inUse},
        {"a custom name", {u"Friends", u"https://p.test/x"}, ServerAddition::NameRefused, inUse},
        {"a name only the file holds", {u"HIDDEN", u"https://p.test/x"}, ServerAddition::NameRefused, inUse},
        {"a name that leads out", {u"..", u"https://p.test/x"}, ServerAddition::NameRefused,
         u"That name cannot be used for an installation."},
        {"a name with a separator", {u"../../up", u"https://p.test/x"}, ServerAddition::NameRefused,
         u"Names cannot include \\ / : * ? \" < > |."},
        {"an empty name", {u"  ", u"https://p.test/x"}, ServerAddition::NameRefused,
         u"That name cannot be used for an installation."},
        {"no server folder", {u"e", u"https://p.test:8080/"}, ServerAddition::AddressRefused, badAddress},
        {"another scheme", {u"e", u"ftp://p.test/x"}, ServerAddition::AddressRefused, badAddress},
        {"no scheme", {u"e", u"p.test/x"}, ServerAddition::AddressRefused, badAddress},
        {"a query", {u"e", u"https://p.test/x?y"}, ServerAddition::AddressRefused, badAddress},
        {"a key that is no key", {u"e", u"https://p.test/x", u"not a key"}, ServerAddition::KeyRefused,
         u"That key is not a usable public key."},
        {"a key anyone could forge for", {u"e", u"https://p.test/x", u"AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="},
         ServerAddition::KeyRefused, u"That key is not a usable public key."},
        {"the program folder", {u"e", u"https://p.test/x", u"", program()}, ServerAddition::FolderRefused,
         u"That folder cannot hold an installation."},
        {"the clients folder", {u"e", u"https://p.test/x", u"", clients() / ""}, ServerAddition::FolderRefused,
         u"That folder cannot hold an installation."},
        {"another entry's folder", {u"e", u"https://p.test/x", u"", clients() / "Friends"},
         ServerAddition::FolderRefused, u"That folder already holds the installation \"friends\"."},
        {"a relative folder", {u"e", u"https://p.test/x", u"", "games/e"}, ServerAddition::FolderRefused,
         u"The installation folder must be a full path."},
    };
    const std::string listBefore = readFile(customList());
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.what);
        const auto result = add(r.request);
        EXPECT_EQ(result.outcome, r.outcome);
        EXPECT_EQ(result.sentence, r.sentence);
    }
    EXPECT_TRUE(checked.empty());
    EXPECT_EQ(readFile(customList()), listBefore);
}

TEST_F(AddingServers, AFailedCheckSavesNothing) {
    answer = u"Could not fetch the patch manifest from https://p.test/x.manifest: no.";
    const auto result = add({u"e", u"https://p.test/x"});
    EXPECT_EQ(result.outcome, ServerAddition::CheckFailed);
    EXPECT_EQ(result.sentence, answer);
    EXPECT_FALSE(fs::exists(customList()));
}

TEST_F(AddingServers, ACopyOfABuiltInServerIsCheckedWithTheBuildsKeysNotItsOwn) {
    const ServerEntry retail = catalog().entries.front();
    const auto result = add({u"second", toWide(retail.patchBaseUrl + "/" + retail.server), kTestKeyWide});
    ASSERT_EQ(result.outcome, ServerAddition::Added) << toUtf8(result.sentence);
    const TrustedKeys builds = manifestTrust(retail, true);
    EXPECT_EQ(trusts[0].required, builds.required);
    EXPECT_EQ(trusts[0].keys, builds.keys);
}

TEST_F(AddingServers, AServerFileGivesOneEntryWithoutAnyFolderOfItsOwn) {
    const fs::path file = root / "ember.json";
    writeFile(file, "\xEF\xBB\xBF{\"name\":\"Ember\",\"desc\":\"Ember Main\",\"server\":\"ember\",\"patchBaseUrl\":"
                    "\"https://p.test\",\"launchExecutable\":\"ember.exe\",\"installPath\":\"/etc\",\"manifestKey\":\"" +
                        std::string(kTestKey) + "\"}");
    std::u16string error;
    const auto entry = readServerFile(file, error);
    ASSERT_TRUE(entry) << toUtf8(error);
    EXPECT_EQ(*entry, (ServerEntry{"Ember", "Ember Main", "ember", "https://p.test", "ember.exe", "", kTestKey}));

    writeFile(file, "{\"servers\":[{\"name\":\"a\",\"server\":\"s\",\"patchBaseUrl\":\"https://p.test\"}]}");
    EXPECT_TRUE(readServerFile(file, error));
    for (const char* bad : {"{\"servers\":[]}", "{\"name\":\"a\"}", "[{}]", "{\"name\":\"a\",\"server\":5}", "x"}) {
        writeFile(file, bad);
        EXPECT_FALSE(readServerFile(file, error)) << bad;
        EXPECT_EQ(error, toWide(file.string()) + u" is not a server file: it must hold one server with its name, "
                                                  u"server and patchBaseUrl.");
    }
    EXPECT_FALSE(readServerFile(root / "missing.json", error));
    EXPECT_EQ(error, u"There is no server file at " + toWide((root / "missing.json").string()) + u".");
}

TEST_F(AddingServers, AServerFilesExecutableMustStayInsideItsInstallation) {
    const ServerEntry escaping{"e", "e", "s", "https://p.test", "../../outside/evil.exe", ""};
    const auto result = addServerEntry(program(), catalog(), escaping, check());
    EXPECT_EQ(result.outcome, ServerAddition::ExecutableRefused);
    EXPECT_EQ(result.sentence, u"The server's launchExecutable leads out of its installation.");
    EXPECT_TRUE(checked.empty());
}

}  // namespace
}  // namespace mendly
