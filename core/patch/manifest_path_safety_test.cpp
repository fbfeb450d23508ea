// Paths in a patch manifest come from the network. Whatever the document
// spells, an entry that is accepted names a file inside the installation
// folder, and an entry that is not makes the whole manifest fail with a
// sentence naming it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/text.h"
#include "patch/archive_paths.h"
#include "patch/manifest.h"
#include "patch/manifest_path_check.h"

namespace mendly {
namespace {

std::string parseErrorFor(const std::string& jsonRelative) {
    const std::string document =
        R"({"files":[{"relative":"Kaltris.exe","md5":"1"},{"relative":")" + jsonRelative + R"(","md5":"2"}]})";
    PatchManifest manifest;
    std::u16string error;
    EXPECT_FALSE(parseManifest(document, manifest, error)) << document;
    EXPECT_TRUE(manifest.files.empty());
    return toUtf8(error);
}

// The relative text as the JSON document writes it (escapes included), and
// the exact sentence. The check applies to the decoded text, so escapes are
// no way around it.
TEST(ManifestPathSafety, HostileEntriesRejectTheManifestWithTheirReason) {
    struct Case {
        std::string json;
        std::string error;
    };
    const std::string prefix = "manifest parse: files[1]: unsafe path \"";
    const std::string dash = "\" \u2014 ";
    const std::vector<Case> cases = {
        {R"(../launcher)", prefix + "../launcher" + dash + "climbs out of the installation folder"},
        {R"(\u002e\u002e/launcher)", prefix + "../launcher" + dash + "climbs out of the installation folder"},
        {R"(ini\\..\\..\\launcher)",
         prefix + "ini\\..\\..\\launcher" + dash + "climbs out of the installation folder"},
        {R"(gfx/a/../../..)", prefix + "gfx/a/../../.." + dash + "climbs out of the installation folder"},
        {R"(worlds/..\\..\\x)", prefix + "worlds/..\\..\\x" + dash + "climbs out of the installation folder"},
        {R"(\/etc\/passwd)", prefix + "/etc/passwd" + dash + "is an absolute path"},
        {R"(\\\\server\\share\\x)", prefix + "\\\\server\\share\\x" + dash + "is an absolute path"},
        {R"(c:x)", prefix + "c:x" + dash + "names a drive"},
        {R"(x\u0000\/..\/..\/y)", prefix + "x\\x00/../../y" + dash + "contains a NUL character"},
        {R"(line\nbreak\u0000)", prefix + "line\\x0Abreak\\x00" + dash + "contains a NUL character"},
        {R"()", prefix + dash + "does not name a file"},
        {R"(ini/)", prefix + "ini/" + dash + "does not name a file"},
        {R"(ini/.)", prefix + "ini/." + dash + "does not name a file"},
        {R"(worlds/a/..)", prefix + "worlds/a/.." + dash + "does not name a file"},
        {R"(Worlds/../x.dat)", prefix + "Worlds/../x.dat" + dash + "climbs out of the archive worlds.pak"},
        {R"(terrain\\PAK_)", prefix + "terrain\\PAK_" + dash + "names no member of the archive terrain.pak"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(parseErrorFor(c.json), c.error);
    }
}

// Every path made of these pieces, up to four components deep with either
// separator, is either refused or lands strictly inside the installation
// folder (as text: links are the client's own business).
TEST(ManifestPathSafety, EveryAcceptedPathStaysInsideTheInstallationFolder) {
    const std::vector<std::string> pieces = {"", ".", "..", "a", "worlds", "ini", "pak_x", "C:", "..."};
    const std::filesystem::path installDir = "/games/kaltris";
    std::vector<std::string> paths = pieces;
    std::size_t accepted = 0;
    std::size_t refused = 0;
    for (int depth = 1; depth <= 4; ++depth) {
        if (depth > 1) {
            std::vector<std::string> longer;
            for (const auto& path : paths)
                for (const auto& piece : pieces)
                    for (const char* separator : {"/", "\\"}) longer.push_back(path + separator + piece);
            paths = std::move(longer);
        }
        for (const auto& relative : paths) {
            if (!manifestPathProblem(relative).empty()) {
                ++refused;
                continue;
            }
            ++accepted;
            const auto normal = looseFilePath(installDir, relative).lexically_normal();
            const auto inside = normal.lexically_relative(installDir);
            ASSERT_FALSE(inside.empty()) << relative;
            ASSERT_NE(*inside.begin(), "..") << relative;
            ASSERT_NE(inside, ".") << relative;
            ASSERT_FALSE(normal.filename().empty()) << relative;
            if (const auto member = classifyArchivePath(relative)) {
                // A member name keeps no ".." that reaches above the archive.
                ASSERT_NE(member->memberPath.rfind("..\\", 0), 0u) << relative;
                ASSERT_NE(member->memberPath, "..") << relative;
                ASSERT_NE(member->memberPath, ".") << relative;
            }
        }
    }
    EXPECT_GT(accepted, 1000u);
    EXPECT_GT(refused, 1000u);
}

}  // namespace
}  // namespace mendly
