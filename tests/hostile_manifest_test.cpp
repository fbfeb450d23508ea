// tidewright against a patch host that publishes what no honest publisher
// would: one file under two names, paths that sneak a user's INI file past
// the Update rules, archives emptied of members, payloads the archive format
// cannot keep as they came, and a manifest of files that all fail.
#include <gtest/gtest.h>

#include "hash/digest.h"
#include "patch/vfile/single_file_payload.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

class HostileManifest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(TIDEWRIGHT_EXE, program / "tidewright");
        host.serveFolder(hostRoot.path());
        demo.addFile("kaltrisclient.exe", "client executable");
        demo.addFile("ini/user.ini", "[user]\nname=default\n");
        demo.addFile("worlds/map.dat", "map");
        demo.addFile("gfx/ui/a.dds", "icon");
        test::writeFile(program / "customlist.json",
                        "{\"servers\":[{\"name\":\"demo\",\"server\":\"demo\",\"patchBaseUrl\":\"" + host.baseUrl() +
                            "\",\"launchExecutable\":\"kaltrisclient.exe\"}]}");
    }
    test::ProcessResult update() {
        demo.publish();
        return test::runProcess(program / "tidewright",
                                {{"--update-single", "demo", "--skip-self-update"}, {}, program.path(), std::chrono::seconds(60)});
    }
    fs::path client() const { return program / "clients" / "demo"; }
    void install() {
        const auto r = update();
        ASSERT_EQ(r.exitCode, 0) << r.out;
    }
    std::string log() const { return test::readFile(program / "launcher.log"); }

    test::TempDir program{"hostile-manifest"};
    test::TempDir hostRoot{"hostile-manifest-host"};
    test::LoopbackServer host;
    test::PatchHostFolder demo{hostRoot.path(), "demo"};
};

TEST_F(HostileManifest, AManifestNamingAFileTwiceOrSneakingPastTheIniRulesIsRefused) {
    install();
    test::writeFile(client() / "ini" / "user.ini", "[user]\nname=player\n");
    const std::pair<const char*, const char*> cases[] = {
        {"data\\\\x.bin", "has an empty component (a doubled separator)"},
        {"KALTRISCLIENT.EXE", "names the same file as files[0]"},
        {"./ini/user.ini", "has a \".\" component"},
        {"data/../ini/user.ini", "has a \"..\" component"},
        {"GFX.pak", "is the file of an archive"},
        {"gfx/ui/pak_a.dds", "names the same file as"},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        demo.addFile(path, "[user]\nname=overwritten\n");
        const auto r = update();
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_NE(r.out.find("Error: manifest parse: "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(reason), std::string::npos) << r.out;
        EXPECT_EQ(test::readFile(client() / "ini" / "user.ini"), "[user]\nname=player\n");
        EXPECT_EQ(test::readFile(client() / "kaltrisclient.exe"), "client executable");
        demo.removeFile(path);
    }
}

TEST_F(HostileManifest, AnArchiveTheManifestDropsIsDeletedAndTheOthersStayCurrent) {
    install();
    demo.removeFile("worlds/map.dat");
    demo.addFile("gfx/ui/a.dds", "icon v2");
    const auto r = update();
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_FALSE(fs::exists(client() / "worlds.pak"));
    const auto again = update();
    EXPECT_NE(again.out.find("Verify done: all"), std::string::npos) << again.out;
}

TEST_F(HostileManifest, APayloadAsLongAsItsContentsIsFetchedOnlyOnce) {
    const auto [contents, stream] = test::contentsAsLongAsTheirZlibStream();
    ASSERT_FALSE(contents.empty());
    demo.addFile("scripts/pak_even.lua", vfile::singleFilePayloadHeader(static_cast<std::uint32_t>(contents.size())) + stream);
    install();
    const auto r = update();
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Verify done: all"), std::string::npos) << r.out;
    EXPECT_EQ(host.requestCount("/demo/scripts/pak_even.lua"), 1u);
}

TEST_F(HostileManifest, AManifestOfFilesThatAllFailIsGivenUpOnEarly) {
    for (int i = 0; i < 5000; ++i) {
        const std::string name = "missing/" + std::to_string(i) + ".bin";
        demo.addFile(name, name);
        demo.setPublished(name, false);
    }
    const auto r = update();
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("Error: That file is not on the server right now (HTTP 404)"), std::string::npos) << r.out;
    EXPECT_LT(host.totalRequests(), 200u);
    std::size_t errorLines = 0;
    for (std::size_t at = log().find("ERROR: "); at != std::string::npos; at = log().find("ERROR: ", at + 1)) ++errorLines;
    EXPECT_LE(errorLines, 102u) << "one line per failed file up to 100, then the summary";
    EXPECT_NE(log().find("gave up early"), std::string::npos);
}

TEST_F(HostileManifest, LinksPlantedInTheInstallationAreNeverWrittenThrough) {
    install();
    test::TempDir outside{"hostile-manifest-outside"};
    for (const char* name : {"gfx.pak.part", "kaltrisclient.exe", "data.bin.part"}) {
        test::writeFile(outside / name, "someone else's file");
        fs::remove(client() / name);
        fs::create_symlink(outside / name, client() / name);
    }
    demo.addFile("kaltrisclient.exe", "client executable v2");
    demo.addFile("gfx/ui/a.dds", "icon v2");
    demo.addFile("data.bin", "data");
    const auto r = update();
    EXPECT_EQ(r.exitCode, 0) << r.out;
    for (const char* name : {"gfx.pak.part", "kaltrisclient.exe", "data.bin.part"})
        EXPECT_EQ(test::readFile(outside / name), "someone else's file") << name;
    EXPECT_EQ(test::readFile(client() / "kaltrisclient.exe"), "client executable v2");
    EXPECT_FALSE(fs::is_symlink(client() / "kaltrisclient.exe"));
}

}  // namespace
}  // namespace mendly
