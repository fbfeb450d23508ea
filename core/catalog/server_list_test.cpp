#include "catalog/server_catalog.h"

#include <gtest/gtest.h>

#include "catalog/server_list.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using test::TempDir;
using test::writeFile;

constexpr char kOneEntry[] =
    R"({"servers":[{"name":"Mine","desc":"My copy","server":"aurum","patchBaseUrl":"https://p:8080","launchExecutable":"kaltrisclient.exe"}]})";

// A document with one server object whose members are given as JSON text.
std::string withEntry(const std::string& members) { return R"({"servers":[{)" + members + "}]}"; }
const std::string kRequired = R"("name":"n","server":"s","patchBaseUrl":"https://h:8080")";

TEST(ServerListParsing, ReadsAllSixMembers) {
    const auto list = parseServerList(withEntry(kRequired + R"(,"desc":"d","launchExecutable":"x.exe","installPath":"/games/k")"));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ((*list)[0], (ServerEntry{"n", "d", "s", "https://h:8080", "x.exe", "/games/k"}));
}

TEST(ServerListParsing, AcceptsAByteOrderMarkAndTrailingWhiteSpace) {
    const auto list = parseServerList(std::string("\xEF\xBB\xBF") + kOneEntry + " \r\n\t");
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)[0].name, "Mine");
}

TEST(ServerListParsing, RejectsTextThatIsNotExactlyOneServerListDocument) {
    EXPECT_FALSE(parseServerList(std::string("// servers\n") + kOneEntry));
    EXPECT_FALSE(parseServerList(std::string(kOneEntry) + "/* end */"));
    EXPECT_FALSE(parseServerList(std::string(kOneEntry) + "{}"));
    EXPECT_FALSE(parseServerList(""));
    EXPECT_FALSE(parseServerList("[]"));
    EXPECT_FALSE(parseServerList(R"({"server":[]})"));
    EXPECT_FALSE(parseServerList(R"({"servers":{}})"));
    EXPECT_FALSE(parseServerList(R"({"servers":[5]})"));
}

TEST(ServerListParsing, AnEmptyServersArrayIsAValidEmptyList) {
    const auto list = parseServerList(R"({"servers":[],"other":1})");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->empty());
}

TEST(ServerListParsing, RequiredMembersMustBePresentStrings) {
    EXPECT_FALSE(parseServerList(withEntry(R"("server":"s","patchBaseUrl":"u")")));
    EXPECT_FALSE(parseServerList(withEntry(R"("name":"n","patchBaseUrl":"u")")));
    EXPECT_FALSE(parseServerList(withEntry(R"("name":"n","server":"s")")));
    EXPECT_FALSE(parseServerList(withEntry(R"("name":null,"server":"s","patchBaseUrl":"u")")));
    EXPECT_FALSE(parseServerList(withEntry(R"("name":"n","server":7,"patchBaseUrl":"u")")));
}

TEST(ServerListParsing, NullOrAbsentDescBecomesTheName) {
    for (const std::string extra : {"", R"(,"desc":null)"}) {
        const auto list = parseServerList(withEntry(kRequired + extra));
        ASSERT_TRUE(list) << extra;
        EXPECT_EQ((*list)[0].desc, "n") << extra;
    }
}

TEST(ServerListParsing, AnEmptyDescStaysEmptyAndDisplaysTheName) {
    const auto list = parseServerList(withEntry(kRequired + R"(,"desc":"")"));
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)[0].desc, "");
    EXPECT_EQ(displayName((*list)[0]), "n");
}

TEST(ServerListParsing, DescOrLaunchExecutableOfAnotherTypeRejectsTheDocument) {
    EXPECT_FALSE(parseServerList(withEntry(kRequired + R"(,"desc":5)")));
    EXPECT_FALSE(parseServerList(withEntry(kRequired + R"(,"launchExecutable":5)")));
    EXPECT_FALSE(parseServerList(withEntry(kRequired + R"(,"launchExecutable":["a"])")));
}

TEST(ServerListParsing, NullLaunchExecutableIsEmpty) {
    const auto list = parseServerList(withEntry(kRequired + R"(,"launchExecutable":null)"));
    ASSERT_TRUE(list);
    EXPECT_EQ((*list)[0].launchExecutable, "");
}

TEST(ServerListParsing, InstallPathOfAnyOtherTypeIsIgnored) {
    for (const std::string value : {"5", "null", "{}", "true"}) {
        const auto list = parseServerList(withEntry(kRequired + R"(,"installPath":)" + value));
        ASSERT_TRUE(list) << value;
        EXPECT_EQ((*list)[0].installPath, "") << value;
    }
}

TEST(ServerListParsing, OneBadEntryRejectsTheWholeDocument) {
    const auto text = R"({"servers":[{"name":"good","server":"s","patchBaseUrl":"u"},{"name":"bad","patchBaseUrl":"u"}]})";
    EXPECT_FALSE(parseServerList(text));
}

TEST(ServerListParsing, InvalidUtf8IsRejected) {
    EXPECT_FALSE(parseServerList(withEntry(R"("name":"a)" "\xFF" R"(","server":"s","patchBaseUrl":"u")")));
}

// Mirrors only add hosts to an entry that works without them: nothing in
// "mirrors" rejects the document, the unusable parts are left out.
TEST(ServerListMirrors, UsableAddressesAreKeptInOrderAndTheRestLeftOut) {
    const struct {
        const char* mirrors;  // the member's JSON value
        std::vector<std::string> kept;
    } cases[] = {
        {R"(["https://m1:8080", "http://m2/"])", {"https://m1:8080", "http://m2/"}},
        {R"([" https://m1:8080\t", "HTTPS://M3"])", {"https://m1:8080", "HTTPS://M3"}},
        {R"([5, null, {}, [], "", "   ", "ftp://m", "m4:8080", "https://m1"])", {"https://m1"}},
        {R"(["https://h:8080", "https://m1", "https://m1"])", {"https://m1"}},  // the primary and repeats
        {R"("https://m1")", {}},
        {R"({"a": "https://m1"})", {}},
        {R"(null)", {}},
    };
    for (const auto& c : cases) {
        const auto list = parseServerList(withEntry(kRequired + R"(,"mirrors":)" + c.mirrors));
        ASSERT_TRUE(list) << c.mirrors;
        EXPECT_EQ((*list)[0].mirrors, c.kept) << c.mirrors;
        EXPECT_EQ((*list)[0].patchBaseUrl, "https://h:8080");
    }
}

TEST(ServerListMirrors, AnEntryWithoutMirrorsIsWrittenExactlyAsBefore) {
    const auto list = parseServerList(kOneEntry);
    ASSERT_TRUE(list);
    const nlohmann::json written = serverEntryToJson((*list)[0]);
    EXPECT_FALSE(written.contains("mirrors"));
    EXPECT_EQ(written.dump(), R"({"desc":"My copy","launchExecutable":"kaltrisclient.exe","name":"Mine",)"
                              R"("patchBaseUrl":"https://p:8080","server":"aurum"})");
}

TEST(ServerListMirrors, MirrorsSurviveARoundTripAndTakePartInEquality) {
    ServerEntry entry{"n", "d", "s", "https://h:8080", "x.exe", "", "", {"https://m1:8080", "http://m2"}};
    const nlohmann::json written = serverEntryToJson(entry);
    EXPECT_EQ(written.at("mirrors"), nlohmann::json::parse(R"(["https://m1:8080","http://m2"])"));
    const auto read = parseServerList(nlohmann::json{{"servers", {written}}}.dump());
    ASSERT_TRUE(read);
    EXPECT_EQ((*read)[0], entry);
    ServerEntry withoutOne = entry;
    withoutOne.mirrors.pop_back();
    EXPECT_NE(withoutOne, entry);
}

class CatalogLoading : public ::testing::Test {
protected:
    TempDir dir{"catalog"};
};

TEST_F(CatalogLoading, TheEmbeddedDocumentAloneYieldsRetailAndPts) {
    const auto catalog = loadServerCatalog(dir.path());
    ASSERT_EQ(catalog.entries.size(), 2u);
    EXPECT_EQ(catalog.builtInCount, 2u);
    EXPECT_EQ(catalog.entries[0].name, "retail");
    EXPECT_EQ(catalog.entries[0].desc, "Kaltris Nexum 2.5");
    EXPECT_EQ(catalog.entries[0].server, "aurum");
    EXPECT_EQ(catalog.entries[0].launchExecutable, "kaltrisclient.exe");
    EXPECT_EQ(catalog.entries[1].name, "pts");
    EXPECT_EQ(catalog.entries[1].desc, "Kaltris Nexum 2.5 - Public Test Server");
    EXPECT_EQ(catalog.entries[1].server, "solenne");
    for (const auto& entry : catalog.entries) {
        EXPECT_EQ(entry.installPath, "");
        EXPECT_EQ(entry.patchBaseUrl.rfind("https://", 0), 0u) << entry.patchBaseUrl;
        EXPECT_NE(entry.patchBaseUrl.find(":8080"), std::string::npos) << entry.patchBaseUrl;
    }
}

TEST_F(CatalogLoading, TheEmbeddedDocumentHasCrLfLineBreaks) {
    const auto document = embeddedCatalogDocument();
    EXPECT_NE(document.find("\r\n  \"servers\""), std::string_view::npos);
    EXPECT_EQ(document.find("\n  \"servers\""), document.find("\r\n  \"servers\"") + 1);
}

TEST_F(CatalogLoading, CustomEntriesFollowTheBuiltInOnes) {
    writeFile(dir / "customlist.json", kOneEntry);
    const auto catalog = loadServerCatalog(dir.path());
    ASSERT_EQ(catalog.entries.size(), 3u);
    EXPECT_EQ(catalog.builtInCount, 2u);
    EXPECT_EQ(catalog.entries[2].name, "Mine");
}

TEST_F(CatalogLoading, ACustomListWithOneEntryLackingServerAddsNoCustomEntries) {
    writeFile(dir / "customlist.json",
              R"({"servers":[{"name":"ok","server":"s","patchBaseUrl":"u"},{"name":"broken","patchBaseUrl":"u"}]})");
    const auto catalog = loadServerCatalog(dir.path());
    EXPECT_EQ(catalog.entries.size(), 2u);
    EXPECT_EQ(catalog.builtInCount, 2u);
}

TEST_F(CatalogLoading, ARejectedEmbeddedDocumentGivesNoBuiltInEntries) {
    writeFile(dir / "customlist.json", kOneEntry);
    const auto catalog = loadServerCatalog(dir.path(), "{\"servers\": [ // no\n]}");
    ASSERT_EQ(catalog.entries.size(), 1u);
    EXPECT_EQ(catalog.builtInCount, 0u);
    EXPECT_EQ(catalog.entries[0].name, "Mine");
}

TEST_F(CatalogLoading, ACustomRetailInCapitalsIsListedButLookupsFindTheBuiltInOne) {
    writeFile(dir / "customlist.json", R"({"servers":[{"name":"RETAIL","server":"x","patchBaseUrl":"u"}]})");
    const auto catalog = loadServerCatalog(dir.path());
    ASSERT_EQ(catalog.entries.size(), 3u);
    EXPECT_EQ(catalog.entries[2].name, "RETAIL");
    EXPECT_EQ(findServer(catalog, "ReTaIl"), std::optional<std::size_t>(0));
}

TEST(ServerLookup, FoldsOnlyAsciiLetters) {
    ServerCatalog catalog;
    catalog.entries = {{"\xC3\x89mile", "", "s", "u", "", ""}, {"Zoe", "", "s", "u", "", ""},
                       {"x[", "", "s", "u", "", ""}};
    EXPECT_EQ(findServer(catalog, "\xC3\x89MILE"), std::optional<std::size_t>(0));
    EXPECT_FALSE(findServer(catalog, "\xC3\xA9mile"));  // é does not fold to É
    EXPECT_EQ(findServer(catalog, "zOE"), std::optional<std::size_t>(1));
    EXPECT_FALSE(findServer(catalog, "Zo"));
    EXPECT_FALSE(findServer(catalog, "X{"));  // '[' and '{' differ by the case bit but are no letters
}

TEST(ProgramFolder, IsTheTextBeforeTheLastSeparator) {
    EXPECT_EQ(programFolderOf("/games/client/tidewright"), std::filesystem::path("/games/client"));
    EXPECT_EQ(programFolderOf("C:\\Games\\Client\\tidewright.exe"), std::filesystem::path("C:\\Games\\Client"));
    EXPECT_EQ(programFolderOf("tidewright"), std::filesystem::path("tidewright"));
    EXPECT_EQ(programFolderOf("/tidewright"), std::filesystem::path("/"));
}

TEST(ProgramFolder, HoldsTheRunningProgram) {
    const auto folder = programFolder();
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(std::filesystem::exists(folder / "catalog_tests")) << folder;
}

}  // namespace
}  // namespace mendly
