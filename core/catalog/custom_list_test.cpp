#include "catalog/custom_list.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "catalog/json_file.h"
#include "catalog/server_list.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

const ServerEntry kMine{"Mine", "My copy", "aurum", "https://p.test:8080", "kaltrisclient.exe", ""};

constexpr char kMineFile[] =
    "{\n"
    "  \"servers\": [\n"
    "    {\n"
    "      \"desc\": \"My copy\",\n"
    "      \"launchExecutable\": \"kaltrisclient.exe\",\n"
    "      \"name\": \"Mine\",\n"
    "      \"patchBaseUrl\": \"https://p.test:8080\",\n"
    "      \"server\": \"aurum\"\n"
    "    }\n"
    "  ]\n"
    "}";

constexpr char kEmptyListFile[] = "{\n  \"servers\": []\n}";

class CustomList : public ::testing::Test {
protected:
    std::filesystem::path file() const { return dir / "customlist.json"; }
    std::size_t filesInFolder() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++n;
        return n;
    }
    TempDir dir{"customlist"};
};

TEST_F(CustomList, ASharedListBehindALinkIsWrittenThereAndAReadOnlyListIsLeftAlone) {
    TempDir shared{"customlist-shared"};
    writeFile(shared / "customlist.json", R"({"servers":[]})");
    std::filesystem::create_symlink(shared / "customlist.json", file());
    ASSERT_TRUE(appendCustomEntry(dir.path(), kMine));
    EXPECT_TRUE(std::filesystem::is_symlink(file()));
    EXPECT_EQ(readFile(shared / "customlist.json"), kMineFile);

    std::filesystem::permissions(shared / "customlist.json", std::filesystem::perms::owner_read);
    const ServerEntry other{"Other", "", "solenne", "https://q.test:8080", "", ""};
    EXPECT_FALSE(appendCustomEntry(dir.path(), other));
    EXPECT_EQ(readFile(shared / "customlist.json"), kMineFile);
}

TEST_F(CustomList, AppendingToNoFileWritesExactlyTheDocumentBytes) {
    ASSERT_TRUE(appendCustomEntry(dir.path(), kMine));
    EXPECT_EQ(readFile(file()), kMineFile);
}

TEST_F(CustomList, AppendingKeepsEarlierEntriesInOrderAndWritesInstallPathOnlyWhenSet) {
    writeFile(file(), kMineFile);
    const ServerEntry other{"Zweite", "", "solenne", "https://q.test:8080", "", "/games/k"};
    ASSERT_TRUE(appendCustomEntry(dir.path(), other));
    EXPECT_EQ(readFile(file()),
              "{\n"
              "  \"servers\": [\n"
              "    {\n"
              "      \"desc\": \"My copy\",\n"
              "      \"launchExecutable\": \"kaltrisclient.exe\",\n"
              "      \"name\": \"Mine\",\n"
              "      \"patchBaseUrl\": \"https://p.test:8080\",\n"
              "      \"server\": \"aurum\"\n"
              "    },\n"
              "    {\n"
              "      \"desc\": \"\",\n"
              "      \"installPath\": \"/games/k\",\n"
              "      \"launchExecutable\": \"\",\n"
              "      \"name\": \"Zweite\",\n"
              "      \"patchBaseUrl\": \"https://q.test:8080\",\n"
              "      \"server\": \"solenne\"\n"
              "    }\n"
              "  ]\n"
              "}");
}

TEST_F(CustomList, NonAsciiTextIsWrittenAsUtf8NotEscaped) {
    const ServerEntry russian{"\xD0\x9A\xD0\xBB\xD0\xB8\xD0\xB5\xD0\xBD\xD1\x82", "", "s", "u", "", ""};
    ASSERT_TRUE(appendCustomEntry(dir.path(), russian));
    const auto text = readFile(file());
    EXPECT_NE(text.find("\"name\": \"\xD0\x9A\xD0\xBB\xD0\xB8\xD0\xB5\xD0\xBD\xD1\x82\""), std::string::npos) << text;
    EXPECT_EQ(text.find("\\u"), std::string::npos);
}

TEST_F(CustomList, ANullDescComesBackAsTheNameAndUnknownMembersAreDropped) {
    writeFile(file(), R"({"servers":[{"name":"Solo","desc":null,"server":"s","patchBaseUrl":"u","extra":1}],"top":2})");
    ASSERT_TRUE(appendCustomEntry(dir.path(), kMine));
    EXPECT_EQ(readFile(file()),
              "{\n"
              "  \"servers\": [\n"
              "    {\n"
              "      \"desc\": \"Solo\",\n"
              "      \"launchExecutable\": \"\",\n"
              "      \"name\": \"Solo\",\n"
              "      \"patchBaseUrl\": \"u\",\n"
              "      \"server\": \"s\"\n"
              "    },\n"
              "    {\n"
              "      \"desc\": \"My copy\",\n"
              "      \"launchExecutable\": \"kaltrisclient.exe\",\n"
              "      \"name\": \"Mine\",\n"
              "      \"patchBaseUrl\": \"https://p.test:8080\",\n"
              "      \"server\": \"aurum\"\n"
              "    }\n"
              "  ]\n"
              "}");
}

TEST_F(CustomList, RemovingTheOnlyCustomEntryLeavesAnEmptyList) {
    writeFile(file(), kMineFile);
    ASSERT_TRUE(removeCustomEntry(dir.path(), ServerEntry{"mINE", "", "", "", "", ""}));
    EXPECT_EQ(readFile(file()), kEmptyListFile);
}

TEST_F(CustomList, RemovingANameThatOccursTwiceRemovesBoth) {
    writeFile(file(), R"({"servers":[{"name":"a","server":"s","patchBaseUrl":"u"},)"
                      R"({"name":"b","server":"s","patchBaseUrl":"u"},{"name":"A","server":"t","patchBaseUrl":"u"}]})");
    ASSERT_TRUE(removeCustomEntry(dir.path(), ServerEntry{"a", "", "", "", "", ""}));
    const auto left = readCustomList(file());
    ASSERT_TRUE(left);
    ASSERT_EQ(left->size(), 1u);
    EXPECT_EQ((*left)[0].name, "b");
}

TEST_F(CustomList, RemovingAnAbsentNameOrFromAMissingFileFailsWithoutWriting) {
    EXPECT_FALSE(removeCustomEntry(dir.path(), kMine));
    EXPECT_FALSE(std::filesystem::exists(file()));
    const std::string original = R"({"servers":[{"name":"b","server":"s","patchBaseUrl":"u"}]})";
    writeFile(file(), original);
    EXPECT_FALSE(removeCustomEntry(dir.path(), kMine));
    EXPECT_EQ(readFile(file()), original);
}

TEST_F(CustomList, AnEmptyFileIsReplacedWithoutABackup) {
    writeFile(file(), "");
    EXPECT_FALSE(readCustomList(file()));
    ASSERT_TRUE(appendCustomEntry(dir.path(), kMine));
    EXPECT_EQ(readFile(file()), kMineFile);
    EXPECT_FALSE(std::filesystem::exists(customListBackupPath(dir.path())));
}

TEST_F(CustomList, AnUnparsableFileIsKeptBesideTheNewOne) {
    const std::string broken = "{\"servers\": [ {\"name\": \"Mine\", // hand edited\n";
    writeFile(file(), broken);
    ASSERT_TRUE(appendCustomEntry(dir.path(), kMine));
    EXPECT_EQ(readFile(file()), kMineFile);
    EXPECT_EQ(readFile(customListBackupPath(dir.path())), broken);
}

TEST_F(CustomList, AnUnreadableFileIsNotReplaced) {
    // A folder where the file should be cannot be read nor copied aside.
    std::filesystem::create_directory(file());
    EXPECT_FALSE(appendCustomEntry(dir.path(), kMine));
    EXPECT_TRUE(std::filesystem::is_directory(file()));
}

TEST_F(CustomList, AWriteIntoAMissingFolderFailsAndLeavesNoTemporaryFile) {
    EXPECT_FALSE(appendCustomEntry(dir / "absent", kMine));
    EXPECT_EQ(filesInFolder(), 0u);
}

// A write that stops half-way (here: the file size limit, as on a full disk)
// must leave the user's file whole.
TEST_F(CustomList, AWriteThatFailsHalfWayKeepsTheOldFile) {
    writeFile(file(), kMineFile);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        const ServerEntry big{std::string(300, 'x'), "", "s", "u", "", ""};
        _exit(appendCustomEntry(dir.path(), big) ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(readFile(file()), kMineFile);
    EXPECT_EQ(filesInFolder(), 1u);
}

TEST(JsonFileText, RefusesInvalidUtf8) {
    nlohmann::json document = nlohmann::json::object();
    document["servers"] = nlohmann::json::array({serverEntryToJson({"a\xFF", "", "s", "u", "", ""})});
    EXPECT_FALSE(jsonFileText(document));
    TempDir dir{"jsonfile"};
    EXPECT_FALSE(writeJsonFile(dir / "x.json", document));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.json"));
}

}  // namespace
}  // namespace mendly
