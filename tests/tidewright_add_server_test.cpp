// tidewright --add-server run as a program against a patch host on loopback:
// what it saves, what it refuses, and that the saved server installs. (Every
// refusal that needs no host is covered by server_addition_test.)
#include <gtest/gtest.h>

#include "catalog/custom_list.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/test_signing.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

// The player's own list, edited by hand: spacing, member order and a member
// the programs do not know, all of which must survive byte for byte.
const std::string kPlayersList =
    "{\n"
    "    \"servers\": [\n"
    "        { \"name\": \"friends\", \"server\": \"demo\", \"patchBaseUrl\": \"http://127.0.0.1:1\",\n"
    "          \"launchExecutable\": \"kaltrisclient.exe\", \"note\": \"from Ana\" }\n"
    "    ]\n"
    "}\n";

class TidewrightAddServer : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(TIDEWRIGHT_EXE, program / "tidewright");
        host.serveFolder(hostRoot.path());
        ember.addFile("kaltrisclient.exe", "client executable");
        ember.addFile("_version._", "Kaltris Nexum-2.5.9");
        ember.addFile("data/readme.txt", "hello");
        ember.publish();
        test::writeFile(list(), kPlayersList);
    }
    test::ProcessResult run(std::vector<std::string> args) {
        args.push_back("--skip-self-update");
        return test::runProcess(program / "tidewright", {args, {}, program.path(), std::chrono::seconds(60)});
    }
    fs::path list() const { return program / "customlist.json"; }
    std::string address() const { return host.baseUrl() + "/ember"; }
    std::string manifestUrl() const { return host.baseUrl() + "/ember.manifest"; }
    std::string keyText() const { return publicKeyText(test::testSigningKey().publicKey()); }
    void sign(const signing::SigningKey& key) {
        test::writeFile(hostRoot / "ember.manifest.sig",
                        test::signatureFileFor(key, test::readFile(hostRoot / "ember.manifest")));
    }

    test::TempDir program{"tw-add"};
    test::TempDir hostRoot{"tw-add-host"};
    test::LoopbackServer host;
    test::PatchHostFolder ember{hostRoot.path(), "ember"};
};

TEST_F(TidewrightAddServer, AnAddedServerKeepsTheOtherEntriesAndInstalls) {
    const auto added = run({"--add-server", "Ember Main", address()});
    ASSERT_EQ(added.exitCode, 0) << added.out;
    EXPECT_NE(added.out.find("Checking " + manifestUrl() + "...\n"
                             "Added Ember Main to customlist.json.\n"
                             "Folder: " + (program / "clients" / "Ember Main").string() + "\n"
                             "Install it with: tidewright --update-single \"Ember Main\"\n"),
              std::string::npos)
        << added.out;
    const std::string after = test::readFile(list());
    const std::size_t kept = kPlayersList.find("\" }") + 3;
    EXPECT_EQ(after.substr(0, kept), kPlayersList.substr(0, kept));
    EXPECT_EQ(after.substr(kept),
              ",\n"
              "        {\n"
              "            \"desc\": \"Ember Main\",\n"
              "            \"launchExecutable\": \"kaltrisclient.exe\",\n"
              "            \"name\": \"Ember Main\",\n"
              "            \"patchBaseUrl\": \"" + host.baseUrl() + "\",\n"
              "            \"server\": \"ember\"\n"
              "        }\n"
              "    ]\n"
              "}\n");
    EXPECT_NE(test::readFile(program / "launcher.log").find("CLI added server: Ember Main (" + manifestUrl() + ")"),
              std::string::npos);

    const auto installed = run({"--update-single", "ember main"});
    EXPECT_EQ(installed.exitCode, 0) << installed.out;
    EXPECT_EQ(test::readFile(program / "clients" / "Ember Main" / "data" / "readme.txt"), "hello");
}

TEST_F(TidewrightAddServer, WhatCannotBeUsedIsRefusedAndTheListStaysAsItWas) {
    host.respond("/broken.manifest", 200, "<html>not a manifest</html>");
    const std::string down = "http://127.0.0.1:" + std::to_string(test::unusedLoopbackPort());
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--add-server", "FRIENDS", address()}, "Error: That name is already in use. Choose a different name.\n"},
        {{"--add-server", "a/../../b", address()}, "Error: Names cannot include \\ / : * ? \" < > |.\n"},
        {{"--add-server", "e", down + "/ember"},
         "Error: Could not fetch the patch manifest from " + down + "/ember.manifest: "},
        {{"--add-server", "e", host.baseUrl() + "/missing"},
         "Error: Could not fetch the patch manifest from " + host.baseUrl() + "/missing.manifest: "},
        {{"--add-server", "e", host.baseUrl() + "/broken"},
         "Error: " + host.baseUrl() + "/broken.manifest does not serve a valid patch manifest (manifest parse: "},
        {{"--add-server", "e", address(), "--key", keyText()}, "Error: The patch manifest is not signed.\n"},
    };
    for (const auto& [args, error] : cases) {
        const auto r = run(args);
        EXPECT_EQ(r.exitCode, 1) << args[1];
        EXPECT_NE(r.out.find(error), std::string::npos) << r.out;
        EXPECT_EQ(test::readFile(list()), kPlayersList) << args[1];
    }
    sign(test::strangerSigningKey());
    const auto stranger = run({"--add-server", "e", address(), "--key", keyText()});
    EXPECT_NE(stranger.out.find("Error: The patch manifest is not signed by a trusted key.\n"), std::string::npos)
        << stranger.out;
    EXPECT_EQ(test::readFile(list()), kPlayersList);
}

TEST_F(TidewrightAddServer, AListThatCannotBeReadIsNeverOverwritten) {
    const std::string broken = "{ \"servers\": [ { \"name\": \"half-written\"";
    test::writeFile(list(), broken);
    const auto r = run({"--add-server", "e", address()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Error: customlist.json could not be read as a server list, so the server was not added. "
                         "The file was left as it is.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(test::readFile(list()), broken);
    EXPECT_EQ(host.totalRequests(), 0u);  // refused before anything was fetched
}

TEST_F(TidewrightAddServer, AServerFileWithItsKeyAddsASignedServerIntoTheChosenFolder) {
    sign(test::testSigningKey());
    fs::remove(list());
    test::TempDir handedOut{"tw-add-file"};
    test::writeFile(handedOut / "ember.json",
                    "{\"name\":\"Ember\",\"desc\":\"Ember (signed)\",\"server\":\"ember\",\"patchBaseUrl\":\"" +
                        host.baseUrl() + "\",\"launchExecutable\":\"kaltrisclient.exe\",\"installPath\":\"/\","
                        "\"manifestKey\":\"" + keyText() + "\"}");
    const fs::path folder = handedOut / "games" / "ember";
    const auto r = test::runProcess(program / "tidewright",
                                    {{"--add-server", "ember.json", "--folder", "games/ember", "--skip-self-update"},
                                     {},
                                     handedOut.path(),
                                     std::chrono::seconds(60)});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Checking " + manifestUrl() + " and its signature...\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Folder: " + folder.string() + "\n"), std::string::npos) << r.out;
    const auto entries = readCustomList(list());
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ(entries->front().installPath, folder.string());  // the player's folder, not the file's
    EXPECT_EQ(entries->front().manifestKey, keyText());
}

}  // namespace
}  // namespace mendly
