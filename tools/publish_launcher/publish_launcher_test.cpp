// publish_launcher as a program: the latest.json it writes is what the
// self-update reads, with each program's digest and size and a signature by
// the key; refusals write nothing, and a failed publication leaves the one
// before it as it was.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "hash/digest.h"
#include "hash/signature.h"
#include "log/text.h"
#include "selfupdate/launcher_manifest.h"
#include "signing_key.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/test_signing.h"
#include "trust/utc_timestamp.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using mendly::test::readFile;
using mendly::test::writeFile;

class PublishLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string launcher(200'000, '\0');
        for (std::size_t i = 0; i < launcher.size(); ++i) launcher[i] = static_cast<char>(i * 7919 % 251);
        writeFile(programs() / "launcher", launcher);
        writeFile(programs() / "tidewright", "#!/bin/sh\necho tidewright\n");
    }

    static fs::path keyFile() { return mendly::test::testSigningKeyFile(); }
    fs::path programs() const { return dir / "programs"; }
    fs::path root() const { return dir / "host"; }

    mendly::test::ProcessResult publish(std::vector<std::string> extra) {
        mendly::test::ProcessOptions options;
        options.args = {"--programs", programs().string(), "--root", root().string()};
        options.args.insert(options.args.end(), extra.begin(), extra.end());
        options.timeLimit = std::chrono::seconds(60);
        return mendly::test::runProcess(PUBLISH_LAUNCHER_EXE, options);
    }

    mendly::LauncherManifest parsed() {
        mendly::LauncherManifest manifest;
        std::u16string error;
        EXPECT_TRUE(mendly::parseLauncherManifest(readFile(root() / "latest.json"), manifest, error))
            << mendly::toUtf8(error);
        return manifest;
    }

    mendly::SignatureCheck check() const {
        const std::array<mendly::PublicKey, 1> keys{publicKey};
        return mendly::checkSignature(readFile(root() / "latest.json"), readFile(root() / "latest.json.sig"), keys);
    }

    // The expiry lies `days` from now, give or take the run's own time.
    static void expectExpiryIn(const std::string& expires, std::chrono::days days) {
        const auto stamp = mendly::parseUtcTimestamp(expires);
        ASSERT_TRUE(stamp) << expires;
        const auto expected = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) + days;
        EXPECT_LE(*stamp, expected);
        EXPECT_GT(*stamp, expected - 2min) << expires;
    }

    mendly::test::TempDir dir{"publish-launcher"};
    const mendly::PublicKey publicKey = mendly::test::testSigningKey().publicKey();
};

TEST_F(PublishLauncherTest, ASignedLatestJsonListsEachProgramAsServedAndVerifies) {
    const auto result = publish({"--version", "0123abcd", "--sign", keyFile().string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");

    const auto manifest = parsed();
    EXPECT_EQ(manifest.version, "0123abcd");
    expectExpiryIn(manifest.expires, std::chrono::days(30));
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files[0].name, "launcher");
    EXPECT_EQ(manifest.files[1].name, "tidewright");
    for (const auto& file : manifest.files) {
        const std::string source = readFile(programs() / file.name);
        EXPECT_EQ(file.sha256, mendly::sha256Hex(source)) << file.name;
        EXPECT_EQ(file.size, source.size()) << file.name;
        EXPECT_TRUE(readFile(root() / file.name) == source) << file.name;
    }
    EXPECT_EQ(readFile(root() / "latest.json").rfind("{\n  \"expires\": \"", 0), 0u);
    EXPECT_EQ(check(), mendly::SignatureCheck::Valid);
    for (const auto& entry : fs::directory_iterator(root()))
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();

    ASSERT_EQ(publish({"--version", "0123abce", "--sign", keyFile().string(), "--expires", "7"}).exitCode, 0);
    expectExpiryIn(parsed().expires, std::chrono::days(7));
    EXPECT_EQ(check(), mendly::SignatureCheck::Valid);
}

TEST_F(PublishLauncherTest, AnUnsignedPublicationCarriesNoExpiryAndNoSignatureOfAnOlderOne) {
    ASSERT_EQ(publish({"--version", "0123abcd", "--sign", keyFile().string()}).exitCode, 0);
    const auto result = publish({"--version", "0123abce"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "publish_launcher: warning: latest.json is not signed; builds with signing keys refuse it\n");
    const auto manifest = parsed();
    EXPECT_EQ(manifest.version, "0123abce");
    EXPECT_EQ(manifest.expires, "");
    EXPECT_FALSE(fs::exists(root() / "latest.json.sig"));
}

TEST_F(PublishLauncherTest, ReleasesRiseByOneUnlessGivenAndNeverFall) {
    ASSERT_EQ(publish({"--version", "0123abcd"}).exitCode, 0);
    EXPECT_EQ(parsed().release, 1u);
    ASSERT_EQ(publish({"--version", "0123abce", "--sign", keyFile().string()}).exitCode, 0);
    EXPECT_EQ(parsed().release, 2u);
    ASSERT_EQ(publish({"--version", "0123abcf", "--release", "40"}).exitCode, 0);
    EXPECT_EQ(parsed().release, 40u);
    ASSERT_EQ(publish({"--version", "0123abcf", "--release", "40"}).exitCode, 0);  // the same again is fine

    const std::string before = readFile(root() / "latest.json");
    const auto lower = publish({"--version", "0123abd0", "--release", "39"});
    EXPECT_EQ(lower.exitCode, 1);
    EXPECT_EQ(lower.err, "publish_launcher: Release 39 is lower than the one the host serves now (40): players who "
                         "have that one would refuse it\n");
    EXPECT_EQ(readFile(root() / "latest.json"), before);
    EXPECT_EQ(publish({"--version", "0123abd0", "--release", "x"}).exitCode, 2);
}

TEST_F(PublishLauncherTest, RefusalsWriteNothing) {
    writeFile(dir / "junk.pem", "not a key");
    fs::create_directories(dir / "empty");
    const std::string sign = keyFile().string();
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    };
    const Case cases[] = {
        {{"--version", "0123ABCD"}, 2, "--version must be eight lowercase hexadecimal digits: 0123ABCD"},
        {{"--version", "0123abc"}, 2, "--version must be eight lowercase hexadecimal digits: 0123abc"},
        {{"--version", "0123abcd", "--expires", "7"}, 2,
         "--expires needs --sign: only a signed latest.json carries an expiry"},
        {{"--version", "0123abcd", "--sign", sign, "--expires", "0"}, 2,
         "--expires needs a number of days from 1 to 3650"},
        {{"--version", "0123abcd", "--sign", (dir / "junk.pem").string()}, 1,
         "unusable signing key: " + (dir / "junk.pem").string() + ": not a PEM private key"},
        {{"--version", "0123abcd", "--programs", (dir / "empty").string()}, 2, "--programs is given twice"},
    };
    for (const Case& c : cases) {
        const auto result = publish(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.err;
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), "publish_launcher: " + c.err);
        EXPECT_FALSE(fs::exists(root())) << c.err;
    }

    fs::remove_all(programs());
    fs::create_directories(programs());
    const auto none = publish({"--version", "0123abcd", "--sign", sign});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.err, "publish_launcher: No program to publish in " + programs().string() +
                            " (looked for launcher, keelswap, tidewright)\n");
    fs::create_directories(programs() / "keelswap");
    const auto folder = publish({"--version", "0123abcd"});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_EQ(folder.err, "publish_launcher: " + (programs() / "keelswap").string() + " is not a file\n");
    EXPECT_FALSE(fs::exists(root()));
}

TEST_F(PublishLauncherTest, AFailedPublicationLeavesTheOneBeforeItAsItWas) {
    ASSERT_EQ(publish({"--version", "0123abcd", "--sign", keyFile().string()}).exitCode, 0);
    const std::string manifest = readFile(root() / "latest.json");
    const std::string launcher = readFile(root() / "launcher");

    writeFile(programs() / "launcher", "a new launcher");
    writeFile(root() / "latest.json.tmp" / "in-the-way", "");  // latest.json cannot be staged
    const auto result = publish({"--version", "0123abce", "--sign", keyFile().string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "publish_launcher: Cannot write: " + (root() / "latest.json.tmp").string() + "\n");
    EXPECT_EQ(readFile(root() / "latest.json"), manifest);
    EXPECT_TRUE(readFile(root() / "launcher") == launcher);
    EXPECT_EQ(check(), mendly::SignatureCheck::Valid);
    EXPECT_FALSE(fs::exists(root() / "launcher.tmp"));
    EXPECT_FALSE(fs::exists(root() / "tidewright.tmp"));
}

}  // namespace
