#include "model/language.h"

#include <gtest/gtest.h>

#include "log/log_file.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

TEST(SupportedLanguage, OnlyTheFourLowerCaseCodes) {
    for (const char* code : {"en", "de", "es", "fr"}) EXPECT_TRUE(isSupportedLanguage(code)) << code;
    for (const char* code : {"", "EN", "De", "it", "eng", "e", "en "}) EXPECT_FALSE(isSupportedLanguage(code)) << code;
}

TEST(LanguageFromIni, ReadsTheLanguageLine) {
    EXPECT_EQ(languageFromIniText("[INI]\r\nLANGUAGE=de\r\n"), "de");
    EXPECT_EQ(languageFromIniText("language = fr"), "fr");
    EXPECT_EQ(languageFromIniText("[INI]\nLanguage\t=\tes \r\n"), "es");
}

TEST(LanguageFromIni, LeadingSpaceBeforeTheKeyOrUpperCaseCodeGivesEnglish) {
    EXPECT_EQ(languageFromIniText("[INI]\r\n LANGUAGE=de\r\n"), "en");
    EXPECT_EQ(languageFromIniText("[INI]\r\nLANGUAGE=DE\r\n"), "en");
}

TEST(LanguageFromIni, UnsupportedValueIsSkippedAndALaterLineCounts) {
    EXPECT_EQ(languageFromIniText("LANGUAGE=it\nLANGUAGE=fr\n"), "fr");
    EXPECT_EQ(languageFromIniText("LANGUAGE=de\nLANGUAGE=fr\n"), "de");
    EXPECT_EQ(languageFromIniText("KEY=LANGUAGE=de\n"), "en");
    EXPECT_EQ(languageFromIniText("LANGUAGE=de=x\n"), "en");
    EXPECT_EQ(languageFromIniText(""), "en");
}

class LanguageFileTest : public ::testing::Test {
protected:
    void TearDown() override { LogFile::close(); }
    std::string logText() {
        LogFile::close();
        return test::readFile(program / "launcher.log");
    }

    test::TempDir program;
    std::filesystem::path install = program / "clients" / "retail";
};

TEST_F(LanguageFileTest, WritesExactlyTwentyBytesAndCreatesTheFolders) {
    EXPECT_EQ(writeLanguage(program.path(), install, "de"), std::nullopt);
    EXPECT_EQ(test::readFile(install / "ini" / "language.ini"), "[INI]\r\nLANGUAGE=de\r\n");
    EXPECT_EQ(test::readFile(install / "ini" / "language.ini").size(), 20u);
    EXPECT_EQ(readLanguage(install), "de");
    EXPECT_FALSE(std::filesystem::exists(install / "ini" / "language.ini.new"));
}

TEST_F(LanguageFileTest, RewriteReplacesTheWholeFile) {
    std::filesystem::create_directories(install / "ini");
    test::writeFile(install / "ini" / "language.ini", "[INI]\r\nLANGUAGE=fr\r\nOTHER=1\r\n; a longer old file\r\n");
    EXPECT_EQ(writeLanguage(program.path(), install, "es"), std::nullopt);
    EXPECT_EQ(test::readFile(install / "ini" / "language.ini"), "[INI]\r\nLANGUAGE=es\r\n");
}

TEST_F(LanguageFileTest, FileInPlaceOfTheIniFolderIsReportedAndLogged) {
    ASSERT_TRUE(LogFile::open(program.path()));
    std::filesystem::create_directories(install);
    test::writeFile(install / "ini", "not a folder");
    const auto notice = writeLanguage(program.path(), install, "de");
    ASSERT_TRUE(notice);
    const auto ini = (install / "ini").u16string();
    EXPECT_EQ(*notice, (Notice{u"Could not create INI folder:\n" + ini, u"Language", NoticeIcon::Error}));
    EXPECT_NE(logText().find("ERROR: Could not create INI folder: " + (install / "ini").string() + "\n"),
              std::string::npos);
}

TEST_F(LanguageFileTest, FailedWriteKeepsTheOldFile) {
    ASSERT_TRUE(LogFile::open(program.path()));
    const auto file = install / "ini" / "language.ini";
    std::filesystem::create_directories(install / "ini");
    test::writeFile(file, "[INI]\r\nLANGUAGE=fr\r\n");
    // The player made the file read-only.
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    const auto notice = writeLanguage(program.path(), install, "de");
    ASSERT_TRUE(notice);
    EXPECT_EQ(*notice, (Notice{u"Could not write language.ini:\n" + file.u16string(), u"Language", NoticeIcon::Error}));
    EXPECT_EQ(test::readFile(file), "[INI]\r\nLANGUAGE=fr\r\n");
    EXPECT_NE(logText().find("ERROR: Could not write " + file.string() + "\n"), std::string::npos);
}

}  // namespace
}  // namespace mendly
