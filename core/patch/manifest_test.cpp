#include "patch/manifest.h"

#include <gtest/gtest.h>

#include <string>

#include "log/text.h"

namespace mendly {
namespace {

// Parses `document` expecting failure and returns the error as UTF-8.
std::string parseError(std::string_view document) {
    PatchManifest manifest;
    manifest.files.push_back({"stale.dat", "00"});
    manifest.generated = "stale";
    std::u16string error;
    EXPECT_FALSE(parseManifest(document, manifest, error)) << document;
    EXPECT_TRUE(manifest.files.empty()) << "a failed parse kept entries";
    EXPECT_TRUE(manifest.generated.empty());
    return toUtf8(error);
}

class ParseManifestTest : public ::testing::Test {
protected:
    PatchManifest manifest;
    std::u16string error;
};

// A manifest of the given paths, each with a placeholder digest.
std::string manifestOf(const std::vector<const char*>& paths) {
    std::string files;
    for (const char* p : paths) {
        std::string escaped;
        for (const char* c = p; *c != '\0'; ++c) escaped += *c == '\\' ? std::string("\\\\") : std::string(1, *c);
        files += std::string(files.empty() ? "" : ",") + R"({"md5":"00","relative":")" + escaped + "\"}";
    }
    return R"({"files":[)" + files + "]}";
}

TEST(ManifestCollisions, TwoEntriesForOneFileRefuseTheManifest) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"data/x.bin", "DATA\\X.BIN"}, R"(files[1]: "DATA\X.BIN" names the same file as files[0])"},
        {{"a.txt", "worlds/m.dat", "worlds/sub/../m.dat"}, R"(has a ".." component)"},
        {{"gfx/ui/a.dds", "GFX\\UI\\pak_a.dds"}, R"(files[1]: "GFX\UI\pak_a.dds" names the same file as files[0])"},
        {{"gfx/ui/a.dds", "Gfx.PAK"}, R"(files[1]: "Gfx.PAK" is the file of an archive)"},
    };
    for (const auto& [paths, expected] : cases) {
        const std::string error = parseError(manifestOf(paths));
        EXPECT_EQ(error.rfind("manifest parse: ", 0), 0u) << error;
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
    PatchManifest manifest;
    std::u16string error;
    EXPECT_TRUE(parseManifest(manifestOf({"data/x.bin", "data/x.bin2", "gfx/x.bin", "gfx.pak.bak"}), manifest, error))
        << toUtf8(error);
}

TEST_F(ParseManifestTest, EntriesKeepDocumentOrderAndTextAsWritten) {
    const std::string document = R"({
      "generated": "2024-05-01T10:00:00Z",
      "files": [
        {"relative": "Kaltris.exe", "md5": "0123456789ABCDEF0123456789abcdef"},
        {"relative": "worlds\\x.dat", "md5": "d41d8cd98f00b204e9800998ecf8427e"},
        {"relative": "ini/hash.ini", "md5": "", "size": 12}
      ]
    })";
    ASSERT_TRUE(parseManifest(document, manifest, error)) << toUtf8(error);
    EXPECT_TRUE(error.empty());
    ASSERT_EQ(manifest.files.size(), 3u);
    EXPECT_EQ(manifest.files[0].relative, "Kaltris.exe");
    EXPECT_EQ(manifest.files[0].md5, "0123456789ABCDEF0123456789abcdef");
    EXPECT_EQ(manifest.files[1].relative, "worlds\\x.dat");
    EXPECT_EQ(manifest.files[2].relative, "ini/hash.ini");
    EXPECT_EQ(manifest.files[2].md5, "");
    EXPECT_EQ(manifest.generated, "2024-05-01T10:00:00Z");
}

TEST_F(ParseManifestTest, NonAsciiPathsStayUtf8) {
    ASSERT_TRUE(parseManifest(R"({"files":[{"relative":"sound/\u00e9t\u00e9.ogg","md5":"aa"}]})", manifest, error));
    EXPECT_EQ(manifest.files[0].relative, "sound/\xC3\xA9t\xC3\xA9.ogg");
}

TEST_F(ParseManifestTest, EmptyFilesArrayParses) {
    ASSERT_TRUE(parseManifest(R"({"files":[]})", manifest, error));
    EXPECT_TRUE(manifest.files.empty());
    EXPECT_TRUE(manifest.generated.empty());
}

TEST_F(ParseManifestTest, GeneratedThatIsNotAStringIsLeftEmpty) {
    ASSERT_TRUE(parseManifest(R"({"generated":20240501,"files":[]})", manifest, error));
    EXPECT_TRUE(manifest.generated.empty());
    ASSERT_TRUE(parseManifest(R"({"generated":null,"files":[]})", manifest, error));
    EXPECT_TRUE(manifest.generated.empty());
}

TEST_F(ParseManifestTest, UnknownKeysAreIgnored) {
    ASSERT_TRUE(parseManifest(R"({"version":3,"files":[{"relative":"a","md5":"b","extra":[1,2]}]})", manifest, error));
    ASSERT_EQ(manifest.files.size(), 1u);
}

TEST(ParseManifestRejects, ElementWithoutMd5) {
    EXPECT_EQ(parseError(R"({"files":[{"relative":"a","md5":"1"},{"relative":"b"}]})"),
              "manifest parse: [json.exception.out_of_range.403] key 'md5' not found");
}

TEST(ParseManifestRejects, ElementWithoutRelative) {
    EXPECT_EQ(parseError(R"({"files":[{"md5":"1"}]})"),
              "manifest parse: [json.exception.out_of_range.403] key 'relative' not found");
}

TEST(ParseManifestRejects, NumberAsMd5) {
    EXPECT_EQ(parseError(R"({"files":[{"relative":"a","md5":5}]})"),
              "manifest parse: [json.exception.type_error.302] type must be string, but is number");
}

TEST(ParseManifestRejects, NullAsRelative) {
    EXPECT_EQ(parseError(R"({"files":[{"relative":null,"md5":"1"}]})"),
              "manifest parse: [json.exception.type_error.302] type must be string, but is null");
}

TEST(ParseManifestRejects, ElementThatIsNotAnObject) {
    EXPECT_EQ(parseError(R"({"files":["a.dat"]})"),
              "manifest parse: [json.exception.type_error.304] cannot use at() with string");
}

TEST(ParseManifestRejects, MissingFilesKey) {
    EXPECT_EQ(parseError(R"({"file":[]})"),
              "manifest parse: [json.exception.out_of_range.403] key 'files' not found");
}

TEST(ParseManifestRejects, FilesThatIsNotAnArray) {
    EXPECT_EQ(parseError(R"({"files":{"relative":"a","md5":"b"}})"),
              "manifest parse: [json.exception.type_error.302] type must be array, but is object");
    EXPECT_EQ(parseError(R"({"files":"a"})"),
              "manifest parse: [json.exception.type_error.302] type must be array, but is string");
}

TEST(ParseManifestRejects, RootThatIsNotAnObject) {
    EXPECT_EQ(parseError(R"([{"files":[]}])"),
              "manifest parse: [json.exception.type_error.304] cannot use at() with array");
    EXPECT_EQ(parseError("null"), "manifest parse: [json.exception.type_error.304] cannot use at() with null");
}

TEST(ParseManifestRejects, InvalidJson) {
    EXPECT_EQ(parseError(""),
              "manifest parse: [json.exception.parse_error.101] parse error at line 1, column 1: syntax error "
              "while parsing value - unexpected end of input; expected '[', '{', or a literal");
    EXPECT_EQ(parseError(R"({"files":[]} x)").rfind("manifest parse: [json.exception.parse_error.101] ", 0), 0u);
    EXPECT_EQ(parseError(R"({"files":[],})").rfind("manifest parse: [json.exception.parse_error.101] ", 0), 0u);
}

TEST(ParseManifestRejects, Comments) {
    EXPECT_EQ(parseError("{\"files\":[] /* none */}").rfind("manifest parse: [json.exception.parse_error.101] ", 0),
              0u);
    EXPECT_EQ(parseError("// list\n{\"files\":[]}").rfind("manifest parse: [json.exception.parse_error.101] ", 0), 0u);
}

TEST(ParseManifestRejects, InvalidUtf8InAString) {
    EXPECT_EQ(parseError("{\"files\":[{\"relative\":\"a\xFF\",\"md5\":\"1\"}]}")
                  .rfind("manifest parse: [json.exception.parse_error.101] ", 0),
              0u);
}

TEST(ParseManifestRejects, PathClimbingOutOfTheInstallationFolderNamesItsEntry) {
    EXPECT_EQ(parseError(R"({"files":[{"relative":"ok.dat","md5":"1"},{"relative":"../launcher","md5":"2"}]})"),
              "manifest parse: files[1]: unsafe path \"../launcher\" \u2014 climbs out of the installation folder");
    EXPECT_EQ(parseError(R"({"files":[{"relative":"bin\\..\\..\\x.dll","md5":"2"}]})"),
              "manifest parse: files[0]: unsafe path \"bin\\..\\..\\x.dll\" \u2014 climbs out of the "
              "installation folder");
}

TEST(ParseManifestRejects, UnsafePathsShowTheirReasonAndControlCharactersEscaped) {
    EXPECT_EQ(parseError(R"({"files":[{"relative":"C:\\Windows\\x.dll","md5":"1"}]})"),
              "manifest parse: files[0]: unsafe path \"C:\\Windows\\x.dll\" \u2014 names a drive");
    EXPECT_EQ(parseError(R"({"files":[{"relative":"a\u0000\u001f.exe","md5":"1"}]})"),
              "manifest parse: files[0]: unsafe path \"a\\x00\\x1F.exe\" \u2014 contains a NUL character");
    EXPECT_EQ(parseError(R"({"files":[{"relative":"worlds/../x.dat","md5":"1"}]})"),
              "manifest parse: files[0]: unsafe path \"worlds/../x.dat\" \u2014 climbs out of the archive worlds.pak");
}

TEST_F(ParseManifestTest, PlainNamesThatMerelyLookOddAreAccepted) {
    const std::string document = R"({"files":[
      {"relative":"worlds","md5":"4"},
      {"relative":"..data/x..y","md5":"5"},
      {"relative":"C/:x","md5":"6"}
    ]})";
    ASSERT_TRUE(parseManifest(document, manifest, error)) << toUtf8(error);
    EXPECT_EQ(manifest.files.size(), 3u);
}

class FileUrlTest : public ::testing::Test {};

TEST_F(FileUrlTest, JoinsWithExactlyOneSlashAndTurnsBackslashes) {
    EXPECT_EQ(fileUrl(u"https://patch.example.invalid:8080/aurum/", {"gfx\\ui\\a.dds", ""}),
              u"https://patch.example.invalid:8080/aurum/gfx/ui/a.dds");
    EXPECT_EQ(fileUrl(u"https://patch.example.invalid:8080/aurum", {"gfx\\ui\\a.dds", ""}),
              u"https://patch.example.invalid:8080/aurum/gfx/ui/a.dds");
    EXPECT_EQ(fileUrl(u"http://127.0.0.1:1/aurum/\\//", {"worlds/x.dat", ""}), u"http://127.0.0.1:1/aurum/worlds/x.dat");
}

TEST_F(FileUrlTest, NothingIsPercentEncoded) {
    EXPECT_EQ(fileUrl(u"http://h/s", {"sound/my file #1 \xC3\xA9.ogg", ""}), u"http://h/s/sound/my file #1 \u00e9.ogg");
}

class IniRulesTest : public ::testing::Test {};

TEST_F(IniRulesTest, IniPathsAreUnderTheIniFolder) {
    EXPECT_TRUE(isIniPath("ini/user.ini"));
    EXPECT_TRUE(isIniPath("INI\\Game.ini"));
    EXPECT_TRUE(isIniPath("ini/"));
    EXPECT_FALSE(isIniPath("ini"));
    EXPECT_FALSE(isIniPath("inix/a.ini"));
    EXPECT_FALSE(isIniPath("data/ini/a.ini"));
    EXPECT_FALSE(isIniPath(""));
}

TEST_F(IniRulesTest, OnlyTheTwoKeptFilesArePreserved) {
    EXPECT_TRUE(isKeptIniPath("INI/Updater.ini"));
    EXPECT_TRUE(isKeptIniPath("ini\\hash.ini"));
    EXPECT_TRUE(isKeptIniPath("ini/HASH.INI"));
    EXPECT_FALSE(isKeptIniPath("ini/hash.ini.bak"));
    EXPECT_FALSE(isKeptIniPath("ini/sub/hash.ini"));
    EXPECT_FALSE(isKeptIniPath("ini/user.ini"));
}

TEST_F(IniRulesTest, SelectionPerMode) {
    struct Case {
        const char* relative;
        bool update, install, resetIni;
    };
    const Case cases[] = {
        {"Kaltris.exe", true, true, false},
        {"worlds/x.dat", true, true, false},
        {"ini/user.ini", false, true, true},
        {"Ini\\Graphics.ini", false, true, true},
        {"ini/updater.ini", true, true, true},
        {"ini\\hash.ini", true, true, true},
        {"ini", true, true, false},
    };
    for (const Case& c : cases) {
        const ManifestEntry entry{c.relative, "00"};
        EXPECT_EQ(isSelectedForMode(entry, PatchMode::Update), c.update) << c.relative;
        EXPECT_EQ(isSelectedForMode(entry, PatchMode::Install), c.install) << c.relative;
        EXPECT_EQ(isSelectedForMode(entry, PatchMode::ResetIni), c.resetIni) << c.relative;
        EXPECT_TRUE(isSelectedForMode(entry, static_cast<PatchMode>(7))) << c.relative;
    }
}

TEST(LooseFilePath, BackslashesSeparateFolders) {
    const std::filesystem::path install = "/games/clients/aurum";
    EXPECT_EQ(looseFilePath(install, "ini\\hash.ini"), install / "ini" / "hash.ini");
    EXPECT_EQ(looseFilePath(install, "Kaltris.exe"), install / "Kaltris.exe");
    EXPECT_EQ(looseFilePath(install, "sound/\xC3\xA9.ogg").string(), "/games/clients/aurum/sound/\xC3\xA9.ogg");
}

TEST(Md5Matches, IgnoresAsciiCaseButNotLength) {
    EXPECT_TRUE(md5Matches("d41d8cd98f00b204e9800998ecf8427e", "D41D8CD98F00B204E9800998ECF8427E"));
    EXPECT_FALSE(md5Matches("d41d8cd98f00b204e9800998ecf8427e", "d41d8cd98f00b204e9800998ecf8427"));
    EXPECT_FALSE(md5Matches("", "d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_TRUE(md5Matches("", ""));
}

}  // namespace
}  // namespace mendly
