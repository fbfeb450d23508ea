// Republishing while players download: the real publish_patch writes a
// signed release to a folder a loopback host serves, a player's tidewright
// (a custom catalog entry with the server's manifest key) starts installing
// it, and while one of its files is being answered the operator publishes
// the next release. The run must finish from the release it started with.
// Also publish_patch's word on a release whose version text did not change.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>

#include "log/text.h"
#include "patch/manifest.h"
#include "support/child_process.h"
#include "support/loopback_server.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "support/test_signing.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A request the host holds until the test lets it go (at the latest when the
// test ends, so that no handler outlives it).
struct HeldAnswer {
    std::promise<void> asked;
    std::once_flag askedOnce;
    std::promise<void> letGo;
    std::shared_future<void> released = letGo.get_future().share();
    std::once_flag releaseOnce;
    void release() {
        std::call_once(releaseOnce, [this] { letGo.set_value(); });
    }
};

class RepublishInFlight : public ::testing::Test {
protected:
    void TearDown() override { hold.release(); }

    void SetUp() override {
        fs::copy_file(TIDEWRIGHT_EXE, program / "tidewright");
        host.serveFolder(hostRoot.path());
        test::writeFile(program / "customlist.json",
                        "{\"servers\":[{\"name\":\"demo\",\"server\":\"demo\",\"patchBaseUrl\":\"" + host.baseUrl() +
                            "\",\"launchExecutable\":\"kaltrisclient.exe\",\"manifestKey\":\"" +
                            publicKeyText(test::testSigningKey().publicKey()) + "\"}]}");
    }

    void writeClient(const std::string& version, const std::string& readme, const std::string& map) {
        test::writeFile(client / "kaltrisclient.exe", "client executable");
        test::writeFile(client / "_version._", version);
        test::writeFile(client / "data" / "readme.txt", readme);
        test::writeFile(client / "worlds" / "map.dat", map);
    }

    test::ProcessResult publish(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--client", client.path().string(), "--server", "demo", "--root",
                                      hostRoot.path().string(), "--force", "--sign", test::testSigningKeyFile()};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::runProcess(fs::path(TOOLS_DIR) / "publish_patch" / "publish_patch", {args, {}, {}, 60s});
    }

    PatchManifest servedManifest() const {
        PatchManifest manifest;
        std::u16string error;
        EXPECT_TRUE(parseManifest(test::readFile(hostRoot / "demo.manifest"), manifest, error)) << toUtf8(error);
        return manifest;
    }

    std::string servedPathOf(const std::string& relative) const {
        for (const ManifestEntry& entry : servedManifest().files)
            if (entry.relative == relative) return entry.served;
        ADD_FAILURE() << relative << " is not in the manifest";
        return {};
    }

    test::TempDir program{"republish-program"};
    test::TempDir hostRoot{"republish-host"};
    test::TempDir client{"republish-client"};
    HeldAnswer hold;  // destroyed after the host, whose handlers use it
    test::LoopbackServer host;
};

TEST_F(RepublishInFlight, ARunThatFetchedTheOldManifestFinishesFromTheOldRelease) {
    const std::string oldMap(300000, 'o');
    writeClient("Kaltris Nexum-2.5.1\r\n", "release one", oldMap);
    const auto first = publish();
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const std::string heldPath = "/demo/" + servedPathOf("worlds/map.dat");

    // The map, at its copy's path or its own, is answered only once the next
    // release is in place, and then with whatever the host folder holds at
    // that path at that moment.
    std::future<void> asked = hold.asked.get_future();
    const auto holdMap = [hold = &hold, root = hostRoot.path()](const test::LoopbackRequest& request,
                                                                test::LoopbackReply& reply) {
        std::call_once(hold->askedOnce, [&] { hold->asked.set_value(); });
        if (hold->released.wait_for(test::LoopbackServer::kMaxWait) != std::future_status::ready) {
            reply.status = 503;
            return;
        }
        const fs::path file = root / request.path.substr(1);
        reply.status = fs::exists(file) ? 200 : 404;
        if (reply.status == 200) reply.body = test::readFile(file);
    };
    host.route(heldPath, holdMap);
    host.route("/demo/worlds/map.dat", holdMap);

    test::ChildProcess player;
    ASSERT_TRUE(player.start(program / "tidewright", {"--update-single", "demo", "--skip-self-update"}, program.path(),
                             program / "player.txt"));
    ASSERT_EQ(asked.wait_for(30s), std::future_status::ready) << test::readFile(program / "player.txt");
    writeClient("Kaltris Nexum-2.5.2\r\n", "release two", std::string(300000, 'n'));
    const auto second = publish();
    hold.release();
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.err, "");

    const auto outcome = player.wait(60s);
    const std::string out = test::readFile(program / "player.txt");
    ASSERT_TRUE(outcome.exited) << out;
    EXPECT_EQ(outcome.exitCode, 0) << out;
    EXPECT_EQ(host.requestCount("/demo/worlds/map.dat"), 0u);
    EXPECT_NE(out.find("Finished demo."), std::string::npos) << out;
    const fs::path installed = program / "clients" / "demo";
    EXPECT_EQ(test::readFile(installed / "data" / "readme.txt"), "release one");
    EXPECT_EQ(test::readFile(installed / "_version._"), "Kaltris Nexum-2.5.1\r\n");
    // The plain path already holds the new release: a run that fetched there
    // would have met a file its manifest does not list.
    EXPECT_EQ(test::readFile(hostRoot / "demo" / "worlds" / "map.dat"), std::string(300000, 'n'));

    // The next run takes the new release.
    const auto rerun = test::runProcess(program / "tidewright",
                                        {{"--update-single", "demo", "--skip-self-update"}, {}, program.path(), 60s});
    ASSERT_EQ(rerun.exitCode, 0) << rerun.out;
    EXPECT_EQ(test::readFile(installed / "data" / "readme.txt"), "release two");
    EXPECT_EQ(test::readFile(installed / "_version._"), "Kaltris Nexum-2.5.2\r\n");
}

TEST_F(RepublishInFlight, AChangedClientWithTheOldVersionTextIsWarnedAboutOrWithStrictRefused) {
    writeClient("Kaltris Nexum-2.5.1\r\n", "release one", "map");
    ASSERT_EQ(publish().exitCode, 0);
    const std::string manifestBefore = test::readFile(hostRoot / "demo.manifest");
    const std::string sentence =
        "The client changed (1 file(s) added, changed or removed) but _version._ did not (still "
        "\"Kaltris Nexum-2.5.1\"): every player's listing would keep saying \"Up To Date\"";

    writeClient("Kaltris Nexum-2.5.1\r\n", "release two", "map");
    const auto refused = publish({"--strict"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "publish_patch: " + sentence + "; change _version._, or publish without --strict\n");
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(test::readFile(hostRoot / "demo.manifest"), manifestBefore);
    EXPECT_EQ(test::readFile(hostRoot / "demo" / "data" / "readme.txt"), "release one");
    EXPECT_FALSE(fs::exists(hostRoot / ".demo.staging"));

    const auto warned = publish();
    EXPECT_EQ(warned.exitCode, 0);
    EXPECT_EQ(warned.err, "publish_patch: warning: " + sentence + " (--strict refuses such a release)\n");
    EXPECT_EQ(test::readFile(hostRoot / "demo" / "data" / "readme.txt"), "release two");

    // Publishing the same client again, or a new version text, is no case for a warning.
    for (const char* version : {"Kaltris Nexum-2.5.1\r\n", "Kaltris Nexum-2.5.2\r\n"}) {
        writeClient(version, "release two", "map");
        const auto quiet = publish({"--strict"});
        EXPECT_EQ(quiet.exitCode, 0) << version;
        EXPECT_EQ(quiet.err, "") << version;
    }
}

}  // namespace
}  // namespace mendly
