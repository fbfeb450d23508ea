// The real programs against hosts that are not to be trusted: update
// information and manifests that must be signed, and hosts that trickle or
// never stop sending.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <thread>

#include "hash/digest.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/test_signing.h"
#include "trust/utc_timestamp.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string stampFromNow(std::chrono::hours offset) {
    return formatUtcTimestamp(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now() + offset));
}

std::string informationFor(const std::string& tidewrightBytes, const std::string& expires) {
    return "{\"version\":\"ffffffff\",\"release\":1,\"expires\":\"" + expires +
           "\",\"files\":[{\"name\":\"tidewright\",\"sha256\":\"" +
           sha256Hex(tidewrightBytes) + "\",\"size\":" + std::to_string(tidewrightBytes.size()) + "}]}";
}

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// A program folder with the build that trusts only the test key, and keelswap.
class SignedBuild : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(TIDEWRIGHT_SIGNED_EXE, program / "tidewright");
        fs::copy_file(KEELSWAP_EXE, program / "keelswap");
        host.respond("/tidewright", 200, replacement);
    }
    test::ProcessResult run(std::vector<std::string> args = {}) {
        return test::runProcess(program / "tidewright",
                                {std::move(args), {{"MENDLY_TEST_UPDATE_HOST", host.baseUrl()}}, program.path(), 90s});
    }
    std::string log() { return test::readFile(program / "launcher.log"); }

    test::TempDir program{"signed-build"};
    test::LoopbackServer host;
    // The "new" build: the same program with a marker appended.
    const std::string replacement = test::readFile(TIDEWRIGHT_SIGNED_EXE) + "signed replacement";
};

TEST_F(SignedBuild, UpdateInformationThatIsNotTrustedReplacesNothing) {
    const std::string soon = stampFromNow(24h), past = stampFromNow(-24h);
    struct Case {
        std::string document;
        const signing::SigningKey* signer;
        std::string reason;
    } cases[] = {
        {informationFor(replacement, soon), nullptr, "no signature"},
        {informationFor(replacement, soon), &test::strangerSigningKey(), "signature does not match a trusted key"},
        {informationFor(replacement, past), &test::testSigningKey(), "expired " + past},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        host.respond("/latest.json", 200, c.document);
        host.respond("/latest.json.sig", c.signer ? 200 : 404,
                     c.signer ? test::signatureFileFor(*c.signer, c.document) : "");
        const auto r = run();
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("Name "), std::string::npos) << r.out;  // went on to the listing
        EXPECT_NE(log().find("ERROR: Launcher update information rejected: " + c.reason + "\n"), std::string::npos)
            << log();
        EXPECT_EQ(log().find("WARNING: updates are not signed"), std::string::npos);
        EXPECT_EQ(host.requestCount("/tidewright"), 0u);
        EXPECT_EQ(test::readFile(program / "tidewright"), test::readFile(TIDEWRIGHT_SIGNED_EXE));
    }
}

TEST_F(SignedBuild, ValidSignedUpdateInformationIsHandedOver) {
    const std::string document = informationFor(replacement, stampFromNow(24h));
    host.respond("/latest.json", 200, document);
    host.respond("/latest.json.sig", 200, test::signatureFileFor(test::testSigningKey(), document));
    const auto r = run({"--update-all"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Updating launcher files. The updater will restart.\n"), std::string::npos) << r.out;
    EXPECT_TRUE(waitFor([&] { return test::readFile(program / "tidewright") == replacement; }, 30s));
    EXPECT_EQ(host.requestCount("/tidewright"), 1u);
}

TEST_F(SignedBuild, ADuplicateOfABuiltInServerStillNeedsASignedManifest) {
    test::writeFile(program / "clients" / "retail" / "kaltrisclient.exe", "x");
    auto r = run({"--duplicate", "retail", "mine", "--skip-self-update"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string key = publicKeyText(test::testSigningKey().publicKey());
    std::string list = test::readFile(program / "customlist.json");
    EXPECT_NE(list.find("\"manifestKey\": \"" + key + "\""), std::string::npos) << list;

    // The copy pointed at a host that serves an unsigned manifest is refused.
    const auto base = list.find("\"patchBaseUrl\": \"");
    ASSERT_NE(base, std::string::npos) << list;
    const auto start = base + std::string("\"patchBaseUrl\": \"").size();
    list.replace(start, list.find('"', start) - start, host.baseUrl());
    test::writeFile(program / "customlist.json", list);
    host.respond("/aurum.manifest", 200, "{\"files\":[]}");
    r = run({"--update-single", "mine", "--skip-self-update"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("Error: The patch manifest is not signed.\n"), std::string::npos) << r.out;
}

// A custom server whose entry names the test key as its manifest key.
class SignedCustomServer : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(TIDEWRIGHT_EXE, program / "tidewright");
        host.serveFolder(hostRoot.path());
        demo.addFile("kaltrisclient.exe", "client executable");
        demo.addFile("data/readme.txt", "hello");
        demo.publish();
        test::writeFile(program / "customlist.json",
                        "{\"servers\":[{\"name\":\"signed\",\"server\":\"demo\",\"patchBaseUrl\":\"" + host.baseUrl() +
                            "\",\"launchExecutable\":\"kaltrisclient.exe\",\"manifestKey\":\"" +
                            publicKeyText(test::testSigningKey().publicKey()) + "\"}]}");
    }
    test::ProcessResult install() {
        return test::runProcess(program / "tidewright",
                                {{"--update-single", "signed", "--skip-self-update"}, {}, program.path(), 60s});
    }
    void signManifestWith(const signing::SigningKey& key) {
        test::writeFile(hostRoot / "demo.manifest.sig",
                        test::signatureFileFor(key, test::readFile(hostRoot / "demo.manifest")));
    }

    test::TempDir program{"signed-custom"};
    test::TempDir hostRoot{"signed-custom-host"};
    test::LoopbackServer host;
    test::PatchHostFolder demo{hostRoot.path(), "demo"};
};

TEST_F(SignedCustomServer, OnlyAManifestSignedByItsKeyIsInstalled) {
    for (const signing::SigningKey* signer : {static_cast<const signing::SigningKey*>(nullptr),
                                               &test::strangerSigningKey()}) {
        if (signer != nullptr) signManifestWith(*signer);
        const auto r = install();
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_NE(r.out.find(signer == nullptr ? "Error: The patch manifest is not signed.\n"
                                               : "Error: The patch manifest is not signed by a trusted key.\n"),
                  std::string::npos)
            << r.out;
        EXPECT_FALSE(fs::exists(program / "clients" / "signed" / "kaltrisclient.exe"));
        EXPECT_EQ(host.requestCount("/demo/kaltrisclient.exe"), 0u);
    }
    signManifestWith(test::testSigningKey());
    const auto r = install();
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(test::readFile(program / "clients" / "signed" / "kaltrisclient.exe"), "client executable");
}

TEST_F(SignedCustomServer, AKeyOfSmallOrderIsRefusedBeforeTheHostIsAsked) {
    // The identity point: with it, R = identity and S = 0 "sign" any manifest.
    test::writeFile(program / "customlist.json",
                    "{\"servers\":[{\"name\":\"signed\",\"server\":\"demo\",\"patchBaseUrl\":\"" + host.baseUrl() +
                        "\",\"launchExecutable\":\"kaltrisclient.exe\",\"manifestKey\":"
                        "\"AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\"}]}");
    Signature forged{};
    forged[0] = 1;
    test::writeFile(hostRoot / "demo.manifest.sig", signatureText(forged));
    const auto r = install();
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("Error: No usable key is known to check this server's patch manifest, so it cannot be "
                         "updated.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(host.totalRequests(), 0u);
    EXPECT_FALSE(fs::exists(program / "clients" / "signed" / "kaltrisclient.exe"));
}

// Hosts that never stop: a trickle of two bytes a second, and endless bodies.
class HostileHost : public ::testing::Test {
protected:
    void SetUp() override { fs::copy_file(TIDEWRIGHT_LOOPBACK_UPDATE_EXE, program / "tidewright"); }
    void addCustomServer(const std::string& base) {
        test::writeFile(program / "customlist.json",
                        "{\"servers\":[{\"name\":\"far\",\"server\":\"far\",\"patchBaseUrl\":\"" + base +
                            "\",\"launchExecutable\":\"kaltrisclient.exe\"}]}");
        test::writeFile(program / "clients" / "far" / "kaltrisclient.exe", "old");
    }
    test::ProcessResult run(std::vector<std::string> args, std::chrono::seconds limit) {
        return test::runProcess(program / "tidewright",
                                {std::move(args), {{"MENDLY_TEST_UPDATE_HOST", host.baseUrl()}}, program.path(), limit});
    }
    std::string log() { return test::readFile(program / "launcher.log"); }

    test::TempDir program{"hostile-host"};
    test::LoopbackServer host;
};

TEST_F(HostileHost, ATricklingUpdateHostDelaysTheListingByTheCheckDeadlineOnly) {
    host.streamBody("/latest.json", 2, 1000ms);
    const auto start = std::chrono::steady_clock::now();
    const auto r = run({}, 60s);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Name "), std::string::npos) << r.out;
    EXPECT_LT(took, 40s);
    EXPECT_NE(log().find("The connection timed out"), std::string::npos) << log();
    EXPECT_NE(log().find("WARNING: updates are not signed in this build\n"), std::string::npos) << log();
}

TEST_F(HostileHost, ATricklingPatchHostFailsTheRunWithTheTimeOutSentence) {
    host.streamBody("/far.manifest", 2, 1000ms);
    addCustomServer(host.baseUrl());
    const auto start = std::chrono::steady_clock::now();
    const auto r = run({"--update-single", "far", "--skip-self-update"}, 90s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("Error: The connection timed out. Check your internet connection and try again. (error 28)\n"),
              std::string::npos)
        << r.out;
}

TEST_F(HostileHost, AnEndlessManifestStopsAtItsLimitInBoundedMemory) {
    host.streamBody("/far.manifest", 256 * 1024, 1ms);
    addCustomServer(host.baseUrl());
    const auto r = run({"--update-single", "far", "--skip-self-update"}, 90s);
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("Error: The server sent more than the 256 MB allowed for this download\n"),
              std::string::npos)
        << r.out;
    rusage usage{};
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    const long peakMiB = usage.ru_maxrss / 1024;
    RecordProperty("peak_rss_mib", static_cast<int>(peakMiB));
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer's shadow memory and quarantine come on top
    EXPECT_LT(peakMiB, 600) << "peak resident memory of the run";
#endif
}

}  // namespace
}  // namespace mendly
