#include "selfupdate/self_update.h"

#include <gtest/gtest.h>

#include "build_info.h"
#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "selfupdate/launcher_files.h"
#include "selfupdate/launcher_manifest.h"
#include "selfupdate/update_notice.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

TEST(ParseLauncherManifest, AcceptsTheDocumentAndReadsSizesOnlyFromNonNegativeIntegers) {
    LauncherManifest m;
    std::u16string error;
    ASSERT_TRUE(parseLauncherManifest(R"({"version":"0a1b2c3d","extra":1,"files":[
        {"name":"tidewright","sha256":"ab","size":12},
        {"name":"keelswap","sha256":"cd","size":-4},
        {"name":"launcher","sha256":"ef","size":1.5},
        {"name":"x","sha256":"01","size":"9"},
        {"name":"y","sha256":"02"}]})",
                                      m, error));
    EXPECT_EQ(m.version, "0a1b2c3d");
    ASSERT_EQ(m.files.size(), 5u);
    EXPECT_EQ(m.files[0].size, 12u);
    for (size_t i = 1; i < 5; ++i) EXPECT_EQ(m.files[i].size, 0u) << i;
    EXPECT_TRUE(error.empty());
}

TEST(ParseLauncherManifest, RejectsWithTheSentenceForEachProblem) {
    struct Case {
        const char* body;
        std::u16string start;
    } cases[] = {
        {"{", u"latest.json parse failed: "},
        {"{\"version\":1,\"files\":[]} // c", u"latest.json parse failed: "},
        {"[]", u"latest.json is missing a version string"},
        {"{\"version\":5,\"files\":[]}", u"latest.json is missing a version string"},
        {"{\"version\":\"a\"}", u"latest.json is missing a files array"},
        {"{\"version\":\"a\",\"files\":{}}", u"latest.json is missing a files array"},
        {"{\"version\":\"a\",\"files\":[{\"name\":\"k\"}]}", u"latest.json file entry is missing name or sha256"},
        {"{\"version\":\"a\",\"files\":[7]}", u"latest.json file entry is missing name or sha256"},
    };
    for (const auto& c : cases) {
        LauncherManifest m;
        std::u16string error;
        EXPECT_FALSE(parseLauncherManifest(c.body, m, error)) << c.body;
        EXPECT_EQ(error.substr(0, c.start.size()), c.start) << c.body;
    }
}

class LauncherTargetTest : public ::testing::Test {
protected:
    test::TempDir dir{"targets"};
};

TEST_F(LauncherTargetTest, OnlySafeUpdatableNamesInsideTheProgramFolderResolve) {
    std::filesystem::path target;
    ASSERT_TRUE(resolveLauncherTarget(dir.path(), "keelswap", target));
    EXPECT_EQ(target, dir / "keelswap");
    ASSERT_TRUE(resolveLauncherTarget(dir.path(), "KeelSwap", target));
    EXPECT_EQ(target, dir / "keelswap");
    for (const char* bad : {"", "readme.txt", "bin/keelswap", "..\\keelswap", "../keelswap", "keelswap/", ".."})
        EXPECT_FALSE(resolveLauncherTarget(dir.path(), bad, target)) << bad;
}

TEST_F(LauncherTargetTest, ALinkPointingOutOfTheProgramFolderIsRefused) {
    test::TempDir outside{"outside"};
    test::writeFile(outside / "real", "x");
    std::filesystem::create_symlink(outside / "real", dir / "launcher");
    std::filesystem::path target;
    EXPECT_FALSE(resolveLauncherTarget(dir.path(), "launcher", target));
}

TEST_F(LauncherTargetTest, LocalFileMatchesNeedsTheExactLowercaseDigest) {
    test::writeFile(dir / "keelswap", "abc");
    const std::string digest = sha256Hex("abc");
    EXPECT_TRUE(localFileMatches(dir / "keelswap", digest));
    std::string upper = digest;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_FALSE(localFileMatches(dir / "keelswap", upper));
    EXPECT_FALSE(localFileMatches(dir / "missing", digest));
    EXPECT_FALSE(localFileMatches(dir.path(), digest));
}

std::vector<std::pair<UpdateNoticeIcon, std::u16string>> g_notices;
void recordNotice(UpdateNoticeIcon icon, const std::u16string& text) { g_notices.emplace_back(icon, text); }

// The decision steps against a loopback update host. keelswap is never present
// in the program folder here, so a run that decides to update stages its files
// and then stops at the missing helper.
class SelfUpdateRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_notices.clear();
        setUpdateNoticeSink(&recordNotice);
        ASSERT_TRUE(LogFile::open(dir.path()));
        base = toWide(server.baseUrl());
    }
    void TearDown() override {
        LogFile::close();
        setUpdateNoticeSink(nullptr);
    }
    std::string log() { return test::readFile(dir / "launcher.log"); }
    void publish(const std::string& version, const std::string& files) {
        server.respond("/latest.json", 200, "{\"version\":\"" + version + "\",\"files\":[" + files + "]}");
    }
    static std::string entry(const std::string& name, const std::string& content, long long size = -1) {
        return "{\"name\":\"" + name + "\",\"sha256\":\"" + sha256Hex(content) + "\",\"size\":" +
               std::to_string(size < 0 ? static_cast<long long>(content.size()) : size) + "}";
    }
    bool run() { return runLauncherSelfUpdate(dir.path(), base, SelfUpdateSkipReason::None); }

    test::TempDir dir{"selfupdate"};
    test::LoopbackServer server;
    std::u16string base;
};

TEST_F(SelfUpdateRunTest, SameVersionWithAllFilesPresentHashesAndFetchesNothing) {
    test::writeFile(dir / "keelswap", "local differs");
    publish(buildIdentifierUtf8(), entry("keelswap", "published"));
    EXPECT_FALSE(run());
    EXPECT_EQ(server.requestCount("/keelswap"), 0u);
    EXPECT_NE(log().find("Launcher Update Check: OK"), std::string::npos);
}

TEST_F(SelfUpdateRunTest, SameVersionWithAFileMissingFetchesIt) {
    server.respond("/keelswap", 200, "published");
    publish(buildIdentifierUtf8(), entry("keelswap", "published"));
    EXPECT_FALSE(run());  // staged, then the missing helper stops the hand-over
    EXPECT_EQ(server.requestCount("/keelswap"), 1u);
    const std::string text = log();
    EXPECT_NE(text.find("Launcher file missing: keelswap"), std::string::npos);
    EXPECT_NE(text.find("Launcher self-update needed: keelswap"), std::string::npos);
    EXPECT_EQ(test::readFile(launcherStagingFolder(dir.path()) / "keelswap"), "published");
    ASSERT_EQ(g_notices.size(), 1u);
    EXPECT_EQ(g_notices[0].second.substr(0, 15), u"Could not find ");
}

TEST_F(SelfUpdateRunTest, OtherVersionWhoseFilesAllMatchUpdatesNothing) {
    test::writeFile(dir / "keelswap", "same");
    publish("ffffffff", entry("keelswap", "same") + "," + entry("readme.txt", "x"));
    EXPECT_FALSE(run());
    EXPECT_EQ(server.totalRequests(), 1u);
    EXPECT_NE(log().find("Launcher Update Check: OK"), std::string::npos);
    EXPECT_TRUE(g_notices.empty());
}

TEST_F(SelfUpdateRunTest, SizeMismatchIsAnErrorBoxAndNothingIsReplaced) {
    test::writeFile(dir / "keelswap", "old");
    server.respond("/keelswap", 200, "published");
    publish("ffffffff", entry("keelswap", "published", 3));
    EXPECT_FALSE(run());
    EXPECT_EQ(test::readFile(dir / "keelswap"), "old");
    EXPECT_NE(log().find(" \xE2\x80\x94 size mismatch after download: keelswap"), std::string::npos);
    ASSERT_EQ(g_notices.size(), 1u);
    EXPECT_EQ(g_notices[0].first, UpdateNoticeIcon::Error);
    EXPECT_EQ(g_notices[0].second, u"Launcher update failed size verification.");
}

TEST_F(SelfUpdateRunTest, UppercaseDigestFailsVerificationAfterDownload) {
    test::writeFile(dir / "keelswap", "old");
    server.respond("/keelswap", 200, "published");
    std::string digest = sha256Hex("published");
    for (auto& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    publish("ffffffff", "{\"name\":\"keelswap\",\"sha256\":\"" + digest + "\"}");
    EXPECT_FALSE(run());
    EXPECT_NE(log().find("Hash mismatch after download: keelswap"), std::string::npos);
    ASSERT_EQ(g_notices.size(), 1u);
    EXPECT_EQ(g_notices[0].second, u"Launcher update failed hash verification.");
}

TEST_F(SelfUpdateRunTest, UnreachableManifestIsLoggedOnly) {
    server.respond("/latest.json", 404, "");
    EXPECT_FALSE(run());
    EXPECT_NE(log().find("ERROR: " + server.url("/latest.json") + " \xE2\x80\x94 That file is not on the server"),
              std::string::npos);
    EXPECT_TRUE(g_notices.empty());
}

TEST_F(SelfUpdateRunTest, SkipFlagStillDoesTheHousekeeping) {
    test::writeFile(launcherStagingFolder(dir.path()) / "old", "x");
    EXPECT_FALSE(runLauncherSelfUpdate(dir.path(), base, SelfUpdateSkipReason::SkipFlag));
    EXPECT_FALSE(std::filesystem::exists(launcherStagingFolder(dir.path())));
    EXPECT_EQ(server.totalRequests(), 0u);
    EXPECT_NE(log().find("Launcher Update Check: OK"), std::string::npos);
}

TEST(SelfUpdateSkipReason, OnlyTheExactLowercaseOptionAfterTheProgramNameSkips) {
    EXPECT_EQ(selfUpdateSkipReason({"tidewright", "--skip-self-update"}), SelfUpdateSkipReason::SkipFlag);
    EXPECT_EQ(selfUpdateSkipReason({"--skip-self-update"}), SelfUpdateSkipReason::None);
    EXPECT_EQ(selfUpdateSkipReason({"tidewright", "--SKIP-SELF-UPDATE"}), SelfUpdateSkipReason::None);
}

}  // namespace
}  // namespace mendly
