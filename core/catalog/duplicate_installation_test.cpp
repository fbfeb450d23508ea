#include "catalog/duplicate_installation.h"

#include "catalog/manifest_trust.h"
#include "log/text.h"

#include "installations_test_fixture.h"

namespace mendly {
namespace {

using test::readFile;
using test::writeFile;

class Duplicating : public test::InstallationsTest {
protected:
    void SetUp() override {
        InstallationsTest::SetUp();
        installClient(clients() / "retail");
    }
    InstallationResult duplicate(std::string_view source, std::string_view newName, std::string_view desc = "") {
        return duplicateInstallation(program(), catalog(), source, newName, desc, error);
    }
};

TEST_F(Duplicating, RetailAsRetail2CopiesTheFolderAndAppendsAnEntry) {
    ASSERT_EQ(duplicate("retail", "Retail2", "Kaltris Nexum 2.5 (Copy)"), InstallationResult::Done) << toUtf8(error);
    EXPECT_EQ(readFile(clients() / "Retail2" / "kaltrisclient.exe"), "MZ client");
    EXPECT_EQ(readFile(clients() / "Retail2" / "data" / "maps.pak"), "archive bytes");
    EXPECT_EQ(readFile(clients() / "Retail2" / "_version._"), "2.5.1");
    const std::string base = catalog().entries[0].patchBaseUrl;
    EXPECT_EQ(readFile(customList()),
              "{\n"
              "  \"servers\": [\n"
              "    {\n"
              "      \"desc\": \"Kaltris Nexum 2.5 (Copy)\",\n"
              "      \"launchExecutable\": \"kaltrisclient.exe\",\n"
              "      \"name\": \"Retail2\",\n"
              "      \"patchBaseUrl\": \"" + base + "\",\n"
              "      \"server\": \"aurum\"\n"
              "    }\n"
              "  ]\n"
              "}");
}

TEST_F(Duplicating, TheCopyKeepsTheSourcesMirrors) {
    ServerCatalog withMirrors = catalog();
    withMirrors.entries[0].mirrors = {"https://mirror-a.example.org", "https://mirror-b.example.org"};
    ASSERT_EQ(duplicateInstallation(program(), withMirrors, "retail", "Retail2", "", error), InstallationResult::Done)
        << toUtf8(error);
    const auto copy = catalog().entries.back();
    EXPECT_EQ(copy.name, "Retail2");
    EXPECT_EQ(copy.mirrors, withMirrors.entries[0].mirrors);
}

TEST_F(Duplicating, RetailAsRetailIsAlreadyInUse) {
    EXPECT_EQ(duplicate("retail", "RETAIL"), InstallationResult::NameInUse);
    EXPECT_EQ(error, u"That name is already in use. Choose a different name.");
    EXPECT_FALSE(std::filesystem::exists(customList()));
}

TEST_F(Duplicating, ASourceThatIsNotInstalledFailsEvenForATakenName) {
    EXPECT_EQ(duplicate("pts", "retail"), InstallationResult::SourceNotInstalled);
    EXPECT_EQ(error, u"Install this server before creating a duplicate.");
    EXPECT_EQ(duplicate("pts", "Fresh"), InstallationResult::SourceNotInstalled);
}

TEST_F(Duplicating, AnUnknownSourceIsNamedInTheError) {
    EXPECT_EQ(duplicate("nope", "Fresh"), InstallationResult::NoSuchEntry);
    EXPECT_EQ(error, u"No installation named \"nope\".");
}

TEST_F(Duplicating, TheNameRulesComeFirstAndApplyAfterTrimming) {
    EXPECT_EQ(duplicate("nope", "Copy."), InstallationResult::NameNotAllowed);
    EXPECT_EQ(error, u"Names cannot end with a space or a period.");
    EXPECT_EQ(duplicate("retail", "  \t "), InstallationResult::NameNotAllowed);
    EXPECT_EQ(error, u"That name cannot be used for an installation.");
    EXPECT_EQ(duplicate("retail", "a:b"), InstallationResult::NameNotAllowed);
    EXPECT_EQ(error, u"Names cannot include \\ / : * ? \" < > |.");
}

TEST_F(Duplicating, SurroundingWhiteSpaceIsTrimmedAndAnEmptyDescriptionBecomesTheName) {
    ASSERT_EQ(duplicate("retail", " \tSpare \n", "   "), InstallationResult::Done);
    EXPECT_TRUE(std::filesystem::exists(clients() / "Spare" / "kaltrisclient.exe"));
    const auto list = readCustomList(customList());
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0].name, "Spare");
    EXPECT_EQ((*list)[0].desc, "Spare");
    EXPECT_EQ((*list)[0].installPath, "");
}

TEST_F(Duplicating, ErrorTextIsSetOnlyOnFailure) {
    error = u"untouched";
    ASSERT_EQ(duplicate("retail", "Spare"), InstallationResult::Done);
    EXPECT_EQ(error, u"untouched");
}

TEST_F(Duplicating, FilesAlreadyInTheTargetStayAndEqualOnesAreOverwritten) {
    writeFile(clients() / "Spare" / "mine.txt", "keep");
    writeFile(clients() / "Spare" / "_version._", "old");
    ASSERT_EQ(duplicate("retail", "Spare"), InstallationResult::Done);
    EXPECT_EQ(readFile(clients() / "Spare" / "mine.txt"), "keep");
    EXPECT_EQ(readFile(clients() / "Spare" / "_version._"), "2.5.1");
}

TEST_F(Duplicating, LinksInTheSourceAreCopiedAsWhatTheyPointTo) {
    writeFile(root / "shared.ini", "lang=en");
    std::filesystem::create_symlink(root / "shared.ini", clients() / "retail" / "game.ini");
    ASSERT_EQ(duplicate("retail", "Spare"), InstallationResult::Done);
    EXPECT_FALSE(std::filesystem::is_symlink(clients() / "Spare" / "game.ini"));
    EXPECT_EQ(readFile(clients() / "Spare" / "game.ini"), "lang=en");
}

TEST_F(Duplicating, ACopyThatFailsPartWayLeavesTheSourceAndAddsNoEntry) {
    std::filesystem::create_symlink(root / "gone", clients() / "retail" / "broken.link");
    EXPECT_EQ(duplicate("retail", "Spare"), InstallationResult::CopyFailed);
    EXPECT_EQ(error, u"Could not copy the existing installation.");
    EXPECT_FALSE(std::filesystem::exists(customList()));
    EXPECT_EQ(readFile(clients() / "retail" / "kaltrisclient.exe"), "MZ client");
    EXPECT_EQ(readFile(clients() / "retail" / "data" / "maps.pak"), "archive bytes");
    EXPECT_TRUE(std::filesystem::is_symlink(clients() / "retail" / "broken.link"));
}

TEST_F(Duplicating, ACopyIntoTheSourceItselfIsRefused) {
    // A custom entry whose installation is the whole clients folder: its copy
    // would land inside it.
    writeFile(clients() / "Kaltris.exe", "MZ");
    addCustom("Everything", clients().string());
    EXPECT_EQ(duplicate("Everything", "Nested"), InstallationResult::CopyFailed);
    EXPECT_EQ(error, u"The duplicate would overwrite the original installation.");
    EXPECT_FALSE(std::filesystem::exists(clients() / "Nested"));
    EXPECT_EQ(readCustomList(customList())->size(), 1u);
}

TEST_F(Duplicating, ASourceInsideTheNewFolderIsRefused) {
    installClient(clients() / "Outer" / "inner");
    addCustom("Inner", (clients() / "Outer" / "inner").string());
    EXPECT_EQ(duplicate("Inner", "outer"), InstallationResult::CopyFailed);
    EXPECT_EQ(error, u"The duplicate would overwrite the original installation.");
}

TEST_F(Duplicating, AnUnwritableCustomListLeavesTheCopyWithoutAnEntry) {
    std::filesystem::create_directory(customList());
    EXPECT_EQ(duplicate("retail", "Spare"), InstallationResult::CustomListFailed);
    EXPECT_EQ(error, u"Could not update customlist.json.");
    EXPECT_TRUE(std::filesystem::exists(clients() / "Spare" / "kaltrisclient.exe"));
}

}  // namespace
}  // namespace mendly

namespace mendly {
namespace {

class SignedCustomEntries : public test::InstallationsTest {};

TEST_F(SignedCustomEntries, TheManifestKeyIsKeptByRewritesAndCopiedByDuplicates) {
    const std::string key = "NdsySCPy0CwuZjs6ACQLfxNm68BrsP/CzSX0yBceaps=";
    ASSERT_TRUE(appendCustomEntry(program(), ServerEntry{"Signed", "Signed", "aurum", "https://p.test:8080",
                                                         "kaltrisclient.exe", "", key}));
    installClient(clients() / "Signed");
    addCustom("Plain");  // rewrites the list, the signed entry included
    std::u16string error;
    ASSERT_EQ(duplicateInstallation(program(), catalog(), "Signed", "Copy", "", error), InstallationResult::Done)
        << toUtf8(error);
    ASSERT_TRUE(removeCustomEntry(program(), ServerEntry{"Plain", "", "", "", "", "", ""}));

    const ServerCatalog now = catalog();
    const std::size_t builtIn = now.builtInCount;
    ASSERT_EQ(now.entries.size(), builtIn + 2);
    EXPECT_EQ(now.entries[builtIn].manifestKey, key);
    EXPECT_EQ(now.entries[builtIn + 1].name, "Copy");
    EXPECT_EQ(now.entries[builtIn + 1].manifestKey, key);
    const TrustedKeys copyTrust = manifestTrust(now, builtIn + 1);
    EXPECT_TRUE(copyTrust.required);
    ASSERT_EQ(copyTrust.keys.size(), 1u);
    EXPECT_EQ(publicKeyText(copyTrust.keys[0]), key);
}

TEST(ManifestTrust, CustomEntriesAskForTheirOwnKeyAndAnUnreadableKeyTrustsNothing) {
    ServerEntry entry{"c", "c", "aurum", "https://p.test:8080", "", "", ""};
    EXPECT_FALSE(manifestTrust(entry, false).required);
    entry.manifestKey = "not a key";
    const TrustedKeys unreadable = manifestTrust(entry, false);
    EXPECT_TRUE(unreadable.required);
    EXPECT_TRUE(unreadable.keys.empty());
    // A non-string key is not passed over: the list is refused.
    EXPECT_FALSE(parseServerList(
        R"({"servers":[{"name":"n","server":"s","patchBaseUrl":"https://h:8080","manifestKey":7}]})"));
}

TEST(ManifestTrust, ACopyOfABuiltInEntryFollowsTheBuildsKeysWhateverKeyItWasWrittenWith) {
    const std::string pinned = "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=";  // a key of its own
    ServerCatalog catalog;
    catalog.entries = {ServerEntry{"retail", "", "aurum", "https://p.test", "", "", ""},
                       ServerEntry{"copy", "", "Aurum", "https://p.test", "", "", pinned},
                       ServerEntry{"elsewhere", "", "aurum", "https://mirror.test", "", "", pinned}};
    catalog.builtInCount = 1;
    const TrustedKeys copy = manifestTrust(catalog, 1);
    EXPECT_EQ(copy.required, deploymentTrust().required);
    EXPECT_EQ(copy.keys, deploymentTrust().keys);  // the build's list, not the key written with the copy
    const TrustedKeys other = manifestTrust(catalog, 2);  // another host: its own key
    ASSERT_EQ(other.keys.size(), 1u);
    EXPECT_EQ(publicKeyText(other.keys[0]), pinned);
}

TEST(ManifestTrust, AKeyOfSmallOrderTrustsNothing) {
    // The identity point: every "signature" S = 0, R = identity would verify.
    ServerEntry entry{"c", "c", "aurum", "https://p.test:8080", "", "", "AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="};
    const TrustedKeys weak = manifestTrust(entry, false);
    EXPECT_TRUE(weak.required);
    EXPECT_TRUE(weak.keys.empty());
}

}  // namespace
}  // namespace mendly
