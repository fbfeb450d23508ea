// The self-update against a host that may not be trusted: signed update
// information, expiry, a host that trickles and files longer than declared.
#include <gtest/gtest.h>

#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/http_testing.h"
#include "selfupdate/launcher_files.h"
#include "selfupdate/self_update.h"
#include "selfupdate/update_information.h"
#include "selfupdate/update_notice.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/test_signing.h"
#include "trust/utc_timestamp.h"

namespace mendly {
namespace {

using namespace std::chrono_literals;

std::vector<std::u16string> g_notices;
void recordNotice(UpdateNoticeIcon, const std::u16string& text) { g_notices.push_back(text); }

std::string stampFromNow(std::chrono::hours offset) {
    return formatUtcTimestamp(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now() + offset));
}

class SignedUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_notices.clear();
        setUpdateNoticeSink(&recordNotice);
        ASSERT_TRUE(LogFile::open(dir.path()));
        test::writeFile(dir / "keelswap", "old");
        server.respond("/keelswap", 200, "published");
    }
    void TearDown() override {
        LogFile::close();
        setUpdateNoticeSink(nullptr);
        setHttpStallTimeoutForTesting(30s);
    }
    // latest.json naming one new keelswap, expiring at `expires` (none when
    // empty), of `release` (none when 0).
    std::string information(const std::string& expires, std::uint64_t size = 9, std::uint64_t release = 1) const {
        return "{\"version\":\"ffffffff\"," + (expires.empty() ? "" : "\"expires\":\"" + expires + "\",") +
               (release == 0 ? "" : "\"release\":" + std::to_string(release) + ",") +
               "\"files\":[{\"name\":\"keelswap\",\"sha256\":\"" + sha256Hex("published") +
               "\",\"size\":" + std::to_string(size) + "}]}";
    }
    void serve(const std::string& document, const signing::SigningKey* signer) {
        server.respond("/latest.json", 200, document);
        if (signer != nullptr) server.respond("/latest.json.sig", 200, test::signatureFileFor(*signer, document));
    }
    bool run(std::chrono::seconds deadline = 20s) {
        const SelfUpdateSource source{toWide(server.baseUrl()), test::trustOnly(test::testSigningKey()), deadline};
        return runLauncherSelfUpdate(dir.path(), source, SelfUpdateSkipReason::None);
    }
    std::string log() { return test::readFile(dir / "launcher.log"); }

    test::TempDir dir{"signed-update"};
    test::LoopbackServer server;
};

TEST_F(SignedUpdateTest, OnlyValidSignedUnexpiredInformationStagesFiles) {
    const std::string soon = stampFromNow(24h), past = stampFromNow(-1h);
    struct Case {
        const char* what;
        std::string document;
        const signing::SigningKey* signer;
        std::string rejection;  // empty: accepted
    } cases[] = {
        {"unsigned", information(soon), nullptr, "no signature"},
        {"stranger", information(soon), &test::strangerSigningKey(), "signature does not match a trusted key"},
        {"expired", information(past), &test::testSigningKey(), "expired " + past},
        {"no expiry", information(""), &test::testSigningKey(), "no expiry date"},
        {"no release", information(soon, 9, 0), &test::testSigningKey(), "no release number"},
        {"valid", information(soon), &test::testSigningKey(), ""},
        {"valid far beyond 2262", information("9999-12-31T23:59:59Z"), &test::testSigningKey(), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(launcherStagingFolder(dir.path()));
        const std::size_t fetchedBefore = server.requestCount("/keelswap");
        serve(c.document, c.signer);
        EXPECT_FALSE(run());  // keelswap itself is not here: even a staged update stops before the hand-over
        const bool fetched = server.requestCount("/keelswap") > fetchedBefore;
        EXPECT_EQ(fetched, c.rejection.empty());
        EXPECT_EQ(std::filesystem::exists(launcherStagingFolder(dir.path()) / "keelswap"), c.rejection.empty());
        if (!c.rejection.empty()) {
            EXPECT_NE(log().find("ERROR: Launcher update information rejected: " + c.rejection), std::string::npos);
        }
        EXPECT_EQ(test::readFile(dir / "keelswap"), "old");
    }
}

TEST_F(SignedUpdateTest, AnOlderReleaseIsRefusedOnceANewerOneWasAccepted) {
    const std::string soon = stampFromNow(24h);
    serve(information(soon, 9, 5), &test::testSigningKey());
    EXPECT_FALSE(run());
    EXPECT_EQ(test::readFile(dir / std::string(kLauncherReleaseFileName)), "5\n");
    EXPECT_EQ(server.requestCount("/keelswap"), 1u);

    // A mirror replays release 4: validly signed, not expired, and refused.
    std::filesystem::remove_all(launcherStagingFolder(dir.path()));
    serve(information(soon, 9, 4), &test::testSigningKey());
    EXPECT_FALSE(run());
    EXPECT_EQ(server.requestCount("/keelswap"), 1u);
    EXPECT_FALSE(std::filesystem::exists(launcherStagingFolder(dir.path()) / "keelswap"));
    EXPECT_NE(log().find("ERROR: Launcher update information rejected: release 4 is older than the one already "
                         "installed (release 5)"),
              std::string::npos);
    EXPECT_EQ(test::readFile(dir / std::string(kLauncherReleaseFileName)), "5\n");
    EXPECT_EQ(test::readFile(dir / "keelswap"), "old");

    serve(information(soon, 9, 5), &test::testSigningKey());  // the same release again is fine
    EXPECT_FALSE(run());
    EXPECT_EQ(server.requestCount("/keelswap"), 2u);
}

TEST_F(SignedUpdateTest, ASignatureOverOtherBytesIsRefused) {
    const std::string document = information(stampFromNow(24h));
    server.respond("/latest.json", 200, document + "\n");
    server.respond("/latest.json.sig", 200, test::signatureFileFor(test::testSigningKey(), document));
    EXPECT_FALSE(run());
    EXPECT_EQ(server.requestCount("/keelswap"), 0u);
    EXPECT_NE(log().find("rejected: signature does not match a trusted key"), std::string::npos);
}

TEST_F(SignedUpdateTest, ATricklingHostEndsTheCheckAtItsDeadline) {
    server.streamBody("/latest.json", 2, 200ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(run(2s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_NE(log().find("ERROR: " + server.url("/latest.json") + " \xE2\x80\x94 The connection timed out"),
              std::string::npos);
    EXPECT_TRUE(g_notices.empty());
}

TEST_F(SignedUpdateTest, AFileLongerThanDeclaredStopsAtOnceAsASizeMismatch) {
    server.streamBody("/keelswap", 64 * 1024, 1ms);  // endless
    serve(information(stampFromNow(24h)), &test::testSigningKey());
    EXPECT_FALSE(run());
    EXPECT_LT(server.bytesSent("/keelswap"), std::size_t{16} << 20);
    EXPECT_NE(log().find("size mismatch after download: keelswap"), std::string::npos);
    ASSERT_EQ(g_notices.size(), 1u);
    EXPECT_EQ(g_notices[0], u"Launcher update failed size verification.");
    EXPECT_EQ(test::readFile(dir / "keelswap"), "old");
}

TEST_F(SignedUpdateTest, EndlessUpdateInformationStopsAtItsLimit) {
    server.streamBody("/latest.json", 64 * 1024, 1ms);
    EXPECT_FALSE(run());
    EXPECT_LT(server.bytesSent("/latest.json"), std::size_t{16} << 20);
    EXPECT_NE(log().find("The server sent more than the 1 MB allowed for this download"), std::string::npos);
}

}  // namespace
}  // namespace mendly
