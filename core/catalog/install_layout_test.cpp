#include "catalog/install_layout.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace mendly {
namespace {

using test::TempDir;
using test::writeFile;

ServerEntry named(std::string name) { return ServerEntry{std::move(name), "", "aurum", "https://h:8080", "", ""}; }

TEST(InstallFolders, AnEntryWithoutInstallPathLivesUnderClients) {
    EXPECT_EQ(installFolder("/opt/kn", named("retail")), std::filesystem::path("/opt/kn/clients/retail"));
    EXPECT_EQ(defaultInstallFolder("/opt/kn", named("Ретейл")), std::filesystem::path("/opt/kn/clients/Ретейл"));
}

TEST(InstallFolders, AnAbsoluteInstallPathIsTakenUnchangedARelativeOneCountsFromTheProgramFolder) {
    const struct {
        const char* installPath;
        const char* folder;
    } cases[] = {
        {"/games/kaltris/", "/games/kaltris/"},
        {"/games/../kaltris", "/games/../kaltris"},
        {"relative/games", "/opt/kn/relative/games"},
        {".", "/opt/kn/."},
        {"../games", "/opt/kn/../games"},
    };
    for (const auto& c : cases) {
        auto entry = named("x");
        entry.installPath = c.installPath;
        EXPECT_EQ(installFolder("/opt/kn", entry), std::filesystem::path(c.folder)) << c.installPath;
        EXPECT_EQ(defaultInstallFolder("/opt/kn", entry), std::filesystem::path("/opt/kn/clients/x"));
    }
}

TEST(InstallFolders, ANameStartingWithASeparatorStaysBelowClients) {
    EXPECT_EQ(defaultInstallFolder("/opt/kn", named("/etc")).lexically_normal(),
              std::filesystem::path("/opt/kn/clients/etc"));
}

class Installed : public ::testing::Test {
protected:
    void put(const std::string& name) { writeFile(dir / name, "x"); }
    TempDir dir{"installed"};
};

TEST_F(Installed, AMissingOrEmptyFolderIsNotInstalled) {
    EXPECT_FALSE(isInstalled(dir / "absent", "kaltrisclient.exe"));
    EXPECT_FALSE(isInstalled(dir.path(), "kaltrisclient.exe"));
    EXPECT_FALSE(isInstalled(dir.path(), ""));
    EXPECT_FALSE(isInstalled("", ""));
}

TEST_F(Installed, OnlyATextFileIsNotInstalled) {
    put("readme.txt");
    put("pak");
    put("data.pak.txt");
    EXPECT_FALSE(isInstalled(dir.path(), "kaltrisclient.exe"));
}

TEST_F(Installed, TheLaunchExecutableCountsEvenAsAFolder) {
    std::filesystem::create_directory(dir / "launch.bin");
    EXPECT_TRUE(isInstalled(dir.path(), "launch.bin"));
    EXPECT_FALSE(isInstalled(dir.path(), "other.bin"));
}

// One file in an otherwise empty folder, and the launchExecutable asked for.
TEST(InstalledBy, EachRuleOnItsOwn) {
    const struct {
        const char* file;
        const char* launchExecutable;
        bool installed;
    } cases[] = {
        {"LAUNCH.BIN", "launch.bin", true},  // the entry's executable in another letter case
        {"LAUNCH.BIN", "launch.bi", false},
        {"Kaltris.exe", "", true},           // a known client executable
        {"KaltrisClient.exe", "", true},
        {"Data.PAK", "kaltrisclient.exe", true},  // an archive in capitals
        {".pak", "", true},                       // a name that is all extension
        {"setup.Exe", "kaltrisclient.exe", true}, // any executable
        {"readme.txt", "kaltrisclient.exe", false},
    };
    for (const auto& c : cases) {
        TempDir dir{"installed"};
        writeFile(dir / c.file, "x");
        EXPECT_EQ(isInstalled(dir.path(), c.launchExecutable), c.installed) << c.file << " / " << c.launchExecutable;
        // The item alone marks the folder exactly when the folder counts.
        EXPECT_EQ(marksInstallation(std::filesystem::directory_entry(dir / c.file), c.launchExecutable), c.installed)
            << c.file << " / " << c.launchExecutable;
    }
}

TEST_F(Installed, FilesInSubfoldersAndFoldersNamedLikeArchivesDoNotCount) {
    put("sub/data.pak");
    std::filesystem::create_directory(dir / "maps.pak");
    EXPECT_FALSE(isInstalled(dir.path(), "kaltrisclient.exe"));
}

TEST(VersionText, CleansMarkEndsAndInnerBreaks) {
    EXPECT_EQ(cleanVersionText("\xEF\xBB\xBF" "2.5.1-r7\r\n"), u"2.5.1-r7");
    EXPECT_EQ(cleanVersionText(std::string(" \t2.5\0\0 \0", 10)), u"2.5");
    EXPECT_EQ(cleanVersionText("2.5\r\n\tbeta"), u"2.5   beta");  // no collapsing
    EXPECT_EQ(cleanVersionText("v\xC3\xA9"), u"v\u00E9");
}

TEST(VersionText, OnlyWhiteSpaceIsEmpty) {
    EXPECT_EQ(cleanVersionText(" \r\n\t\v\f"), u"");
    EXPECT_EQ(cleanVersionText("\xEF\xBB\xBF"), u"");
    EXPECT_EQ(cleanVersionText(std::string("\0\0", 2)), u"");
}

class LocalVersion : public ::testing::Test {
protected:
    TempDir dir{"version"};
    std::u16string out = u"stale";
};

TEST_F(LocalVersion, AMissingFileGivesNothing) {
    EXPECT_FALSE(readLocalVersion(dir.path(), out));
    EXPECT_EQ(out, u"");
}

TEST_F(LocalVersion, AnEmptyOrBlankFileGivesNothing) {
    writeFile(dir / "_version._", "");
    EXPECT_FALSE(readLocalVersion(dir.path(), out));
    EXPECT_EQ(out, u"");
    writeFile(dir / "_version._", "\r\n");
    out = u"stale";
    EXPECT_FALSE(readLocalVersion(dir.path(), out));
    EXPECT_EQ(out, u"");
}

TEST_F(LocalVersion, AFolderInPlaceOfTheFileGivesNothing) {
    std::filesystem::create_directory(dir / "_version._");
    EXPECT_FALSE(readLocalVersion(dir.path(), out));
    EXPECT_EQ(out, u"");
}

TEST_F(LocalVersion, ReadsTheCleanedText) {
    writeFile(dir / "_version._", "\xEF\xBB\xBF" "2.5.1\r\n");
    EXPECT_TRUE(readLocalVersion(dir.path(), out));
    EXPECT_EQ(out, u"2.5.1");
}

TEST(PatchAddresses, AreFormedFromBaseAndServer) {
    const auto entry = named("retail");
    EXPECT_EQ(versionUrl(entry), u"https://h:8080/aurum/_version._");
    EXPECT_EQ(manifestUrl(entry), u"https://h:8080/aurum.manifest");
    EXPECT_EQ(filesBaseUrl(entry), u"https://h:8080/aurum/");
}

TEST(PatchAddresses, TrailingSlashesAndSpacesAfterThemAreIgnored) {
    for (const std::string base : {"https://h:8080/", "https://h:8080/  ", "https://h:8080\\//\t"}) {
        auto entry = named("retail");
        entry.patchBaseUrl = base;
        EXPECT_EQ(trimServerBase(entry), u"https://h:8080") << base;
        EXPECT_EQ(manifestUrl(entry), u"https://h:8080/aurum.manifest") << base;
    }
}

TEST(PatchAddresses, WhiteSpaceBeforeTheSlashesStays) {
    auto entry = named("retail");
    entry.patchBaseUrl = "https://h:8080 / ";
    EXPECT_EQ(trimServerBase(entry), u"https://h:8080 ");
}

TEST(StatusRule, FollowsInstalledThenPublishedThenEquality) {
    EXPECT_EQ(installStatus(false, u"1", u"1"), InstallStatus::NotInstalled);
    EXPECT_EQ(installStatus(true, u"1", u""), InstallStatus::Unknown);
    EXPECT_EQ(installStatus(true, u"", u""), InstallStatus::Unknown);
    EXPECT_EQ(installStatus(true, u"2.5", u"2.5"), InstallStatus::UpToDate);
    EXPECT_EQ(installStatus(true, u"", u"2.5"), InstallStatus::OutOfDate);
    EXPECT_EQ(installStatus(true, u"2.5-Beta", u"2.5-beta"), InstallStatus::OutOfDate);
}

TEST(StatusRule, Texts) {
    EXPECT_EQ(installStatusText(InstallStatus::NotInstalled), u"Not Installed");
    EXPECT_EQ(installStatusText(InstallStatus::Unknown), u"Unknown");
    EXPECT_EQ(installStatusText(InstallStatus::UpToDate), u"Up To Date");
    EXPECT_EQ(installStatusText(InstallStatus::OutOfDate), u"Out of Date");
}

}  // namespace
}  // namespace mendly
