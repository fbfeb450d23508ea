#include "patch/archive_paths.h"

#include <gtest/gtest.h>

#include "patch/holder_stamps.h"
#include "patch/manifest.h"

#include <random>
#include <vector>

namespace mendly {
namespace {

class ClassifyArchivePathTest : public ::testing::Test {};

TEST_F(ClassifyArchivePathTest, FirstFolderPicksTheArchiveCaseInsensitively) {
    const auto ref = classifyArchivePath("Worlds/Foo.DAT");
    ASSERT_TRUE(ref);
    EXPECT_EQ(ref->archiveName, "worlds");
    EXPECT_EQ(ref->memberPath, "Foo.DAT");
    EXPECT_EQ(archiveKey(ref->memberPath), "foo.dat");
    EXPECT_FALSE(ref->hadPakPrefix);
    EXPECT_EQ(ref->legacyMemberPath, "");
}

TEST_F(ClassifyArchivePathTest, EveryArchiveFolderIsRecognised) {
    for (const std::string_view name : archiveNameTable) {
        const std::string upper = [&] {
            std::string s(name);
            for (char& c : s) c = static_cast<char>(c - 'a' + 'A');
            return s;
        }();
        for (const std::string& relative : {std::string(name) + "/a/b.bin", upper + "\\a\\b.bin"}) {
            const auto ref = classifyArchivePath(relative);
            ASSERT_TRUE(ref) << relative;
            EXPECT_EQ(ref->archiveName, name);
            EXPECT_EQ(ref->memberPath, "a\\b.bin");
            EXPECT_EQ(archiveNameOf(relative), name) << relative;
        }
    }
}

TEST_F(ClassifyArchivePathTest, PathsOutsideTheArchiveFoldersAreLoose) {
    for (const char* relative : {"worlds", "worlds/", "worlds\\", "/worlds/x", "\\worlds\\x", "Kaltris.exe",
                                 "ini/hash.ini", "world/x", "worldsx/y", "data/worlds/x", ""})
    {
        EXPECT_FALSE(classifyArchivePath(relative)) << relative;
        EXPECT_FALSE(archiveNameOf(relative)) << relative;
    }
}

TEST_F(ClassifyArchivePathTest, MemberNameIsNormalised) {
    EXPECT_EQ(classifyArchivePath("gfx//ui/./icons\\a.dds")->memberPath, "ui\\icons\\a.dds");
    EXPECT_EQ(classifyArchivePath("gfx/x/y/../z")->memberPath, "x\\z");
    EXPECT_EQ(classifyArchivePath("gfx//")->memberPath, ".");
}

TEST_F(ClassifyArchivePathTest, PakPrefixOfTheFileNameMarksASingleFilePayload) {
    const auto ref = classifyArchivePath("worlds/sub/pak_x.dat");
    ASSERT_TRUE(ref);
    EXPECT_EQ(ref->memberPath, "sub\\x.dat");
    EXPECT_EQ(ref->legacyMemberPath, "sub\\pak_x.dat");
    EXPECT_TRUE(ref->hadPakPrefix);

    const auto upper = classifyArchivePath("models\\PAK_Tree.mdl");
    ASSERT_TRUE(upper);
    EXPECT_EQ(upper->memberPath, "Tree.mdl");
    EXPECT_EQ(upper->legacyMemberPath, "PAK_Tree.mdl");
    EXPECT_TRUE(upper->hadPakPrefix);
}

TEST_F(ClassifyArchivePathTest, OnlyTheLastComponentCanCarryThePrefix) {
    const auto ref = classifyArchivePath("worlds/pak_dir/x.dat");
    ASSERT_TRUE(ref);
    EXPECT_EQ(ref->memberPath, "pak_dir\\x.dat");
    EXPECT_FALSE(ref->hadPakPrefix);
    EXPECT_FALSE(classifyArchivePath("worlds/pak.dat")->hadPakPrefix);
    EXPECT_FALSE(classifyArchivePath("worlds/xpak_a")->hadPakPrefix);
}

TEST_F(ClassifyArchivePathTest, BarePrefixLeavesAnEmptyFileName) {
    const auto ref = classifyArchivePath("terrain/a/pak_");
    ASSERT_TRUE(ref);
    EXPECT_EQ(ref->memberPath, "a\\");
    EXPECT_EQ(ref->legacyMemberPath, "a\\pak_");
}

TEST(ArchivePathFor, ArchiveLivesInTheInstallationRoot) {
    EXPECT_EQ(archivePathFor("/games/clients/aurum", "worlds"), std::filesystem::path("/games/clients/aurum/worlds.pak"));
}

class NormalizeArchiveNameTest : public ::testing::Test {};

TEST_F(NormalizeArchiveNameTest, KnownAnswers) {
    EXPECT_EQ(normalizeArchiveName("a//b"), "a\\b");
    EXPECT_EQ(normalizeArchiveName("./a"), "a");
    EXPECT_EQ(normalizeArchiveName("a/./b"), "a\\b");
    EXPECT_EQ(normalizeArchiveName("a/././b"), "a\\b");
    EXPECT_EQ(normalizeArchiveName("x/y/../z"), "x\\z");
    EXPECT_EQ(normalizeArchiveName("a/../b"), "a\\..\\b");
    EXPECT_EQ(normalizeArchiveName(""), ".");
    EXPECT_EQ(normalizeArchiveName("///"), ".");
    EXPECT_EQ(normalizeArchiveName("./"), ".");
    EXPECT_EQ(normalizeArchiveName("\\\\Foo/Bar.DAT"), "Foo\\Bar.DAT");
    EXPECT_EQ(normalizeArchiveName("a/b/"), "a\\b\\");
    EXPECT_EQ(normalizeArchiveName("a/b/.."), "a\\b\\..");
    EXPECT_EQ(normalizeArchiveName("p/q/../../z"), "p\\..\\z");
    EXPECT_EQ(normalizeArchiveName("../x"), "..\\x");
}

// The canonical form, computed independently on components: empty components
// go, "." components between separators go, one leading "." goes, and a ".."
// followed by a separator removes its parent unless the parent is the first
// component, which ends the resolution.
std::string modelNormalize(std::string_view name) {
    std::vector<std::string> parts{""};
    for (const char c : name) {
        if (c == '/' || c == '\\')
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    std::vector<std::string> kept;  // empty components dropped, a trailing separator kept as ""
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!parts[i].empty() || (i + 1 == parts.size() && !kept.empty())) kept.push_back(parts[i]);
    std::vector<std::string> dotless;
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (!(kept[i] == "." && i > 0 && i + 1 < kept.size())) dotless.push_back(kept[i]);
    if (dotless.size() >= 2 && dotless[0] == ".") dotless.erase(dotless.begin());
    std::vector<std::string> out;
    bool stopped = false;
    for (std::size_t i = 0; i < dotless.size(); ++i) {
        const bool resolvable = !stopped && dotless[i] == ".." && i + 1 < dotless.size() && !out.empty();
        if (resolvable && out.size() == 1) stopped = true;
        if (resolvable && !stopped)
            out.pop_back();
        else
            out.push_back(dotless[i]);
    }
    std::string joined;
    for (std::size_t i = 0; i < out.size(); ++i) joined += (i ? "\\" : "") + out[i];
    return joined.empty() ? "." : joined;
}

TEST_F(NormalizeArchiveNameTest, AgreesWithTheComponentModelOnRandomNames) {
    std::mt19937 random(20240501);
    const char alphabet[] = {'a', 'b', '.', '.', '/', '\\'};
    for (int round = 0; round < 20000; ++round) {
        std::string name(random() % 14, 'a');
        for (char& c : name) c = alphabet[random() % sizeof alphabet];
        ASSERT_EQ(normalizeArchiveName(name), modelNormalize(name)) << "name: " << name;
    }
}

TEST(ArchiveKey, LowersAsciiLettersOnly) {
    EXPECT_EQ(archiveKey("Foo\\BAR.Dat"), "foo\\bar.dat");
    EXPECT_EQ(archiveKey("\xC3\x89T\xC3\x89.OGG"), "\xC3\x89t\xC3\x89.ogg");  // É stays, T lowers
    EXPECT_EQ(archiveKey("@[`{Z"), "@[`{z");
    EXPECT_EQ(archiveKey(""), "");
}

// The key is the holder's path relative to the installation, however the
// installation folder is written.
TEST(HolderFor, MembersAreHeldByTheirArchiveAndLooseFilesByThemselves) {
    for (const std::filesystem::path dir : {"/games/kn", "/games/kn/", "kn"}) {
        const EntryHolder member = holderFor(dir, ManifestEntry("GFX\\ui/a.dds", {}));
        EXPECT_TRUE(member.isArchive);
        EXPECT_EQ(member.key, "gfx.pak") << dir;
        EXPECT_EQ(member.path, dir / "gfx.pak");
        const EntryHolder loose = holderFor(dir, ManifestEntry("data\\x.txt", {}));
        EXPECT_FALSE(loose.isArchive);
        EXPECT_EQ(loose.key, "data/x.txt") << dir;
    }
}

}  // namespace
}  // namespace mendly
