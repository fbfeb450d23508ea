#include "list_command.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace mendly {
namespace {

TEST(ListedVersion, ProductPrefixAndHyphenLeaveTheNumber) {
    EXPECT_EQ(listedVersion(u"KN-2.5.1"), u"2.5.1");
    EXPECT_EQ(listedVersion(u"a-b-c"), u"b-c");
    EXPECT_EQ(listedVersion(u"-7"), u"7");
}

TEST(ListedVersion, TextWithoutSomethingAfterItsFirstHyphenIsUnchanged) {
    EXPECT_EQ(listedVersion(u"2.5.1"), u"2.5.1");
    EXPECT_EQ(listedVersion(u"KN-"), u"KN-");
    EXPECT_EQ(listedVersion(u"-"), u"-");
    EXPECT_EQ(listedVersion(u""), u"");
}

TEST(PartlyDownloadedText, CountsWholeMegabytesAndNeverShowsNothingAsZero) {
    const struct {
        std::uint64_t bytes;
        const char16_t* text;
    } cases[] = {
        {1, u"Partly downloaded (1 MB)"},
        {524287, u"Partly downloaded (1 MB)"},
        {1572863, u"Partly downloaded (1 MB)"},
        {1572864, u"Partly downloaded (2 MB)"},
        {45ull << 20, u"Partly downloaded (45 MB)"},
        {5ull << 30, u"Partly downloaded (5120 MB)"},
    };
    for (const auto& c : cases) EXPECT_EQ(partlyDownloadedText(c.bytes), c.text) << c.bytes;
}

class ListTableTest : public ::testing::Test {
protected:
    std::string written() const { return text_; }
    std::string text_;
    ConsoleOutput::Sink sink_ = [this](std::string_view utf8) { text_ += utf8; };

    const std::vector<ListRow> rows_{
        {u"retail", u"Up To Date", u"2.5.1", u"Kaltris Nexum 2.5", InstallStatus::UpToDate},
        {u"pts", u"Out of Date", u"", u"Test", InstallStatus::OutOfDate},
        {u"mine", u"Not Installed", u"", u"Mine", InstallStatus::NotInstalled},
        {u"far", u"Unknown", u"3", u"Far", InstallStatus::Unknown},
        {u"half", u"Partly downloaded (45 MB)", u"", u"Half", InstallStatus::PartlyDownloaded}};
};

TEST_F(ListTableTest, RedirectedTableIsPaddedPlainText) {
    ConsoleOutput console(sink_, false);
    printListTable(console, rows_);
    EXPECT_EQ(written(),
              "Name    Status                     Version  Description\n"
              "retail  Up To Date                 2.5.1    Kaltris Nexum 2.5\n"
              "pts     Out of Date                         Test\n"
              "mine    Not Installed                       Mine\n"
              "far     Unknown                    3        Far\n"
              "half    Partly downloaded (45 MB)           Half\n");
}

TEST_F(ListTableTest, StatusColumnIsColouredByStatusOnATerminal) {
    ConsoleOutput console(sink_, true);
    printListTable(console, rows_);
    const std::string D = "\x1b[0m";
    const std::string pad(12, ' ');
    EXPECT_EQ(written(),
              "Name    Status                     Version  Description\n" +
              D + "retail  \x1b[92mUp To Date   " + pad + D + "  2.5.1    Kaltris Nexum 2.5" + D + "\n" +
              D + "pts     \x1b[93mOut of Date  " + pad + D + "           Test" + D + "\n" +
              D + "mine    \x1b[91mNot Installed" + pad + D + "           Mine" + D + "\n" +
              D + "far     " + D + "Unknown      " + pad + D + "  3        Far" + D + "\n" +
              D + "half    \x1b[93mPartly downloaded (45 MB)" + D + "           Half" + D + "\n");
}

// Rows built from real folders. The patch host address points at a closed
// loopback port, so every published-version download fails at once.
class ListRowsTest : public ::testing::Test {
protected:
    ServerEntry entry(const std::string& name, const std::filesystem::path& installPath) {
        ServerEntry e;
        e.name = name;
        e.desc = "Desc of " + name;
        e.server = "aurum";
        e.patchBaseUrl = "http://127.0.0.1:1";
        e.launchExecutable = "kaltrisclient.exe";
        e.installPath = installPath.string();
        return e;
    }
    test::TempDir program_{"tw-rows"};
};

TEST_F(ListRowsTest, NotInstalledEntryHasNoVersionAndUsesTheDefaultFolder) {
    ServerCatalog catalog;
    catalog.entries.push_back(entry("retail", {}));
    catalog.entries[0].desc.clear();
    catalog.builtInCount = 1;
    const std::vector<ListRow> rows = buildListRows(program_.path(), catalog);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, u"retail");
    EXPECT_EQ(rows[0].status, u"Not Installed");
    EXPECT_EQ(rows[0].version, u"");
    EXPECT_EQ(rows[0].description, u"retail");  // empty desc falls back to the name
}

TEST_F(ListRowsTest, UnreachableHostGivesUnknownWithTheShortenedLocalVersion) {
    const auto folder = program_ / "clients" / "retail";
    test::writeFile(folder / "kaltrisclient.exe", "MZ");
    test::writeFile(folder / "_version._", "\xEF\xBB\xBF" "KN-2.5.1\r\n");
    ServerCatalog catalog;
    catalog.entries.push_back(entry("retail", {}));
    const std::vector<ListRow> rows = buildListRows(program_.path(), catalog);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].status, u"Unknown");
    EXPECT_EQ(rows[0].version, u"2.5.1");
    EXPECT_EQ(rows[0].description, u"Desc of retail");
}

// What an interrupted install leaves: the staging folder and nothing that
// marks an installation. Downloads in progress are not reusable; a client in
// place makes the staged files an update's business, not a resume.
TEST_F(ListRowsTest, StagedDownloadsWithoutAClientArePartlyDownloaded) {
    const auto folder = program_ / "clients" / "retail";
    const auto staging = folder / ".mendly-staging";
    ServerCatalog catalog;
    catalog.entries.push_back(entry("retail", {}));

    test::writeFile(staging / "a.part", std::string(3u << 20, 'p'));
    EXPECT_EQ(buildListRows(program_.path(), catalog)[0].state, InstallStatus::NotInstalled);

    test::writeFile(staging / "0123456789abcdef0123456789abcdef", std::string(2u << 20, 'x'));
    test::writeFile(staging / "fedcba9876543210fedcba9876543210.entry", std::string(1u << 20, 'y'));
    auto rows = buildListRows(program_.path(), catalog);
    EXPECT_EQ(rows[0].state, InstallStatus::PartlyDownloaded);
    EXPECT_EQ(rows[0].status, u"Partly downloaded (3 MB)");
    EXPECT_EQ(rows[0].version, u"");

    test::writeFile(folder / "kaltrisclient.exe", "MZ");
    rows = buildListRows(program_.path(), catalog);
    EXPECT_EQ(rows[0].state, InstallStatus::Unknown);  // installed; the host is down
}


}  // namespace
}  // namespace mendly
