// File names from latest.json become paths in the program folder and in the
// staging folder: only the suite's own files, directly in the program folder,
// ever resolve, and the files of the real programs are the ones replaced.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "build_info.h"
#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "selfupdate/launcher_files.h"
#include "selfupdate/self_update.h"
#include "selfupdate/update_notice.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

class LauncherFileNames : public ::testing::Test {
protected:
    test::TempDir dir{"launcher-names"};
    std::filesystem::path target;
};

TEST_F(LauncherFileNames, NamesThatAreNotExactlyOneUpdatableFileNeverResolve) {
    const std::vector<std::string> names = {
        "", ".", "..", "...", "/keelswap", "\\keelswap", "./keelswap", ".\\keelswap", "keelswap/", "keelswap\\",
        "keelswap/.", "sub/keelswap", "..\\..\\keelswap", "../keelswap", "C:keelswap", "C:\\keelswap",
        " keelswap", "keelswap ", "keelswap.new", ".launcher_update", "launcher.log", "customlist.json",
        // The Windows file names are not files of this platform.
        "launcher.exe", "keelswap.exe", "tidewright.exe", "sciter.dll",
        std::string("keelswap") + '\0', std::string("keelswap") + '\0' + "/../../x",
        std::string(1, '\0') + "keelswap", "%2e%2e/keelswap", "keelswap\xC0\xAF"};
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        target = "untouched";
        EXPECT_FALSE(resolveLauncherTarget(dir.path(), name, target));
        EXPECT_EQ(target, "untouched");
    }
}

TEST_F(LauncherFileNames, EachProgramResolvesToItsFileInAnyLetterCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"keelswap", "keelswap"},   {"KEELSWAP", "keelswap"},     {"KeelSwap", "keelswap"},
        {"tidewright", "tidewright"}, {"TideWright", "tidewright"}, {"LAUNCHER", "launcher"},
    };
    for (const auto& [name, onDisk] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(resolveLauncherTarget(dir.path(), name, target));
        EXPECT_EQ(target, dir / onDisk);
    }
}

TEST_F(LauncherFileNames, LinksResolveOnlyWhenTheyStayInTheProgramFolder) {
    test::TempDir outside{"launcher-outside"};
    test::writeFile(outside / "real", "x");
    test::writeFile(dir / "keelswap.real", "x");

    // A link to a file beside it: the link is what gets replaced.
    std::filesystem::create_symlink(dir / "keelswap.real", dir / "keelswap");
    ASSERT_TRUE(resolveLauncherTarget(dir.path(), "keelswap", target));
    EXPECT_EQ(target, dir / "keelswap");

    // Links out of the folder, also under another letter case of the name.
    std::filesystem::create_symlink(outside / "real", dir / "tidewright");
    EXPECT_FALSE(resolveLauncherTarget(dir.path(), "tidewright", target));
    EXPECT_FALSE(resolveLauncherTarget(dir.path(), "TIDEWRIGHT", target));

    // The program folder itself reached through a link is fine.
    std::filesystem::create_directory_symlink(dir.path(), outside / "programs");
    ASSERT_TRUE(resolveLauncherTarget(outside / "programs", "keelswap", target));
    EXPECT_EQ(target, outside / "programs" / "keelswap");
}

std::vector<std::pair<UpdateNoticeIcon, std::u16string>> g_notices;
void recordNotice(UpdateNoticeIcon icon, const std::u16string& text) { g_notices.emplace_back(icon, text); }

// Whole checks against a loopback update host. keelswap is never in the
// program folder here, so a run that decides to update stops at the missing
// helper after staging.
class LauncherUpdateNames : public ::testing::Test {
protected:
    void SetUp() override {
        g_notices.clear();
        setUpdateNoticeSink(&recordNotice);
        ASSERT_TRUE(LogFile::open(dir.path()));
    }
    void TearDown() override {
        LogFile::close();
        setUpdateNoticeSink(nullptr);
    }
    std::string log() const { return test::readFile(dir / "launcher.log"); }
    // `name` needs no JSON escapes; a test that needs one writes the element.
    static std::string entry(const std::string& name, const std::string& content) {
        return "{\"name\":\"" + name + "\",\"sha256\":\"" + sha256Hex(content) + "\"}";
    }
    void publish(const std::string& version, const std::string& files) {
        server.respond("/latest.json", 200, "{\"version\":\"" + version + "\",\"files\":[" + files + "]}");
    }
    bool run() { return runLauncherSelfUpdate(dir.path(), toWide(server.baseUrl()), SelfUpdateSkipReason::None); }

    test::TempDir dir{"launcher-update-names"};
    test::LoopbackServer server;
};

TEST_F(LauncherUpdateNames, AProgramPublishedInCapitalsIsTheProgramThatIsThere) {
    test::writeFile(dir / "tidewright", "current");
    publish(buildIdentifierUtf8(), entry("TIDEWRIGHT", "published"));
    EXPECT_FALSE(run());
    EXPECT_EQ(log().find("Launcher file missing"), std::string::npos);
    EXPECT_NE(log().find("Launcher Update Check: OK"), std::string::npos);
    EXPECT_EQ(server.totalRequests(), 1u);
}

TEST_F(LauncherUpdateNames, AProgramPublishedInCapitalsIsStagedUnderThatName) {
    test::writeFile(dir / "tidewright", "current");
    server.respond("/TideWright", 200, "published");
    publish("ffffffff", entry("TideWright", "published"));
    EXPECT_FALSE(run());
    EXPECT_NE(log().find("Launcher self-update needed: TideWright"), std::string::npos);
    EXPECT_EQ(test::readFile(launcherStagingFolder(dir.path()) / "TideWright"), "published");
    EXPECT_EQ(test::readFile(dir / "tidewright"), "current");
    EXPECT_FALSE(std::filesystem::exists(dir / "TideWright"));
}

TEST_F(LauncherUpdateNames, HostileNamesAreIgnoredWithoutALineAndWithoutARequest) {
    publish("ffffffff", entry("../keelswap", "x") + "," + entry("/tmp/keelswap", "x") + "," +
                            entry("bin/keelswap", "x") + "," + entry("keelswap/", "x") + "," +
                            entry("..", "x") + "," + "{\"name\":\"..\\\\keelswap\",\"sha256\":\"00\"}" + "," +
                            "{\"name\":\"keelswap\\u0000\",\"sha256\":\"00\"}");
    EXPECT_FALSE(run());
    const std::string text = log();
    EXPECT_EQ(text.find("unsafe"), std::string::npos);
    EXPECT_EQ(text.find("missing"), std::string::npos);
    EXPECT_EQ(text.find("needed"), std::string::npos);
    EXPECT_NE(text.find("Launcher Update Check: OK"), std::string::npos);
    EXPECT_EQ(server.totalRequests(), 1u);
    EXPECT_FALSE(std::filesystem::exists(launcherStagingFolder(dir.path())));
    EXPECT_TRUE(g_notices.empty());
}

TEST_F(LauncherUpdateNames, AProgramFileLinkedOutOfTheFolderIsSkippedAsUnsafe) {
    test::TempDir outside{"launcher-update-outside"};
    test::writeFile(outside / "real", "outside");
    std::filesystem::create_symlink(outside / "real", dir / "tidewright");
    publish("ffffffff", entry("tidewright", "published"));
    EXPECT_FALSE(run());
    EXPECT_NE(log().find("Launcher self-update skipped unsafe path: tidewright"), std::string::npos);
    EXPECT_EQ(server.requestCount("/tidewright"), 0u);
    EXPECT_EQ(test::readFile(outside / "real"), "outside");
}

TEST_F(LauncherUpdateNames, AStagingFolderThatIsALinkGoesAsALinkBeforeAnythingIsStaged) {
    test::TempDir outside{"launcher-update-outside"};
    test::writeFile(outside / "keep.txt", "keep");
    std::filesystem::create_directory_symlink(outside.path(), launcherStagingFolder(dir.path()));
    test::writeFile(dir / "tidewright", "current");
    server.respond("/tidewright", 200, "published");
    publish("ffffffff", entry("tidewright", "published"));
    EXPECT_FALSE(run());
    EXPECT_FALSE(std::filesystem::is_symlink(launcherStagingFolder(dir.path())));
    EXPECT_EQ(test::readFile(launcherStagingFolder(dir.path()) / "tidewright"), "published");
    EXPECT_EQ(test::readFile(outside / "keep.txt"), "keep");
    EXPECT_FALSE(std::filesystem::exists(outside / "tidewright"));
}

}  // namespace
}  // namespace mendly
