#include "patch/download_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "hash/digest.h"
#include "log/log_file.h"
#include "log/text.h"
#include "net/http_settings.h"
#include "net/http_testing.h"
#include "patch/cancel_flag.h"
#include "patch/worker_count.h"
#include "patch/patch_reporting.h"
#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using test::LoopbackServer;
using test::PatchEventRecorder;
using test::TempDir;

class DownloadFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetPatchCancel();
        ASSERT_TRUE(LogFile::open(logDir.path()));
        PatchEventRecorder::clear();
        setPatchCallbacks(&PatchEventRecorder::onStatus, &PatchEventRecorder::onProgress);
    }
    void TearDown() override {
        setPatchCallbacks(nullptr, nullptr);
        resetPatchCancel();
        LogFile::close();
    }

    void serve(std::string relative, std::string body) {
        server.respond("/srv/" + relative, 200, body);
        manifest.files.push_back({std::move(relative), md5Hex(body)});
    }
    DownloadResult download(std::vector<std::size_t> list) {
        EXPECT_TRUE(staging.create());
        return downloadFiles(manifest, list, toWide(server.url("/srv/")), nullptr, staging, install.path());
    }
    std::string staged(const DownloadSlot& slot) const { return test::readFile(staging.pathFor(slot.stagedName)); }
    std::vector<std::string> errorLines() const {
        std::vector<std::string> lines;
        for (const std::string& line : test::logMessages(logDir.path()))
            if (line.starts_with("ERROR: ")) lines.push_back(line);
        return lines;
    }

    TempDir logDir{"download-log"};
    TempDir install{"download-install"};
    StagingArea staging{install.path()};
    LoopbackServer server;
    PatchManifest manifest;
};

TEST_F(DownloadFilesTest, EverySlotNamesItsStagedFileAndMembersAreStoredForm) {
    serve("a.txt", "alpha");
    serve("gfx/b.dds", std::string(70000, 'b'));
    serve("c.txt", "");
    const DownloadResult result = download({2, 0, 1});
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(result.firstError, u"");
    ASSERT_EQ(result.slots.size(), 3u);
    EXPECT_EQ(result.slots[0].index, 2u);
    EXPECT_EQ(result.slots[1].stagedName, md5Hex("alpha"));
    EXPECT_EQ(staged(result.slots[1]), "alpha");  // a loose file stays as it came
    // An archive member is staged in its stored (compressed) form behind a payload header.
    EXPECT_EQ(result.slots[2].stagedName, md5Hex(std::string(70000, 'b')) + ".entry");
    EXPECT_EQ(staged(result.slots[2]), test::singleFilePayload(std::string(70000, 'b')));
    EXPECT_TRUE(std::all_of(result.slots.begin(), result.slots.end(), [](const DownloadSlot& s) { return s.ok; }));
    // Speed texts may come too, when the stage takes long enough (a loaded machine).
    std::vector<std::string> progress = PatchEventRecorder::events();
    std::erase_if(progress, [](const std::string& e) { return !e.starts_with("progress: "); });
    std::sort(progress.begin(), progress.end());
    EXPECT_EQ(progress, (std::vector<std::string>{"progress: 1/3", "progress: 2/3", "progress: 3/3"}));
}

TEST_F(DownloadFilesTest, UppercaseManifestDigestMatches) {
    server.respond("/srv/a", 200, "abc");
    std::string upper = md5Hex("abc");
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    manifest.files.push_back({"a", upper});
    const DownloadResult result = download({0});
    EXPECT_EQ(result.failed, 0);
    EXPECT_TRUE(result.slots[0].ok);
}

TEST_F(DownloadFilesTest, CancellingDuringATransferEndsQuietly) {
    server.streamBody("/srv/slow.bin", 100, std::chrono::milliseconds(50), 1000000);
    manifest.files.push_back({"slow.bin", md5Hex("whatever")});
    std::jthread canceller([&] {
        if (server.waitForRequests("/srv/slow.bin", 1)) requestPatchCancel();
    });
    const DownloadResult result = download({0});
    canceller.join();
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(result.firstError, u"");
    EXPECT_FALSE(result.slots[0].ok);
    EXPECT_TRUE(errorLines().empty());
}

TEST_F(DownloadFilesTest, CancelBeforeTheStageRequestsNothing) {
    serve("a.txt", "alpha");
    requestPatchCancel();
    const DownloadResult result = download({0});
    EXPECT_EQ(result.failed, 0);
    EXPECT_FALSE(result.slots[0].ok);
    EXPECT_EQ(server.totalRequests(), 0u);
}

// A second run into the same staging folder: what the first staged is used
// again, except the one file (by parameter; none for -1) damaged in between.
class DownloadResumeTest : public DownloadFilesTest, public ::testing::WithParamInterface<int> {};

TEST_P(DownloadResumeTest, ASecondRunFetchesOnlyWhatNoLongerMatches) {
    serve("a.txt", "alpha");
    serve("gfx/b.dds", std::string(70000, 'b'));
    serve("gfx/pak_c.dds", test::singleFilePayload(std::string(5000, 'c')));
    const DownloadResult first = download({0, 1, 2});
    ASSERT_EQ(first.failed, 0);
    std::vector<std::string> stagedBytes;
    for (const DownloadSlot& slot : first.slots) stagedBytes.push_back(staged(slot));
    const int damaged = GetParam();
    if (damaged >= 0) {
        std::string bytes = stagedBytes[damaged];
        bytes.back() ^= 1;
        test::writeFile(staging.pathFor(first.slots[damaged].stagedName), bytes);
    }
    const DownloadResult second = download({0, 1, 2});
    EXPECT_EQ(second.failed, 0);
    EXPECT_EQ(second.reused, damaged >= 0 ? 2 : 3);
    EXPECT_EQ(server.totalRequests(), damaged >= 0 ? 4u : 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t requests = static_cast<int>(i) == damaged ? 2 : 1;
        EXPECT_EQ(server.requestCount("/srv/" + manifest.files[i].relative), requests) << i;
        EXPECT_TRUE(second.slots[i].ok) << i;
        EXPECT_EQ(second.slots[i].stagedName, first.slots[i].stagedName) << i;
        EXPECT_EQ(staged(second.slots[i]), stagedBytes[i]) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(NoneLooseMemberPayload, DownloadResumeTest, ::testing::Values(-1, 0, 1, 2));

TEST_F(DownloadFilesTest, EntriesWithTheSameContentsAreFetchedOnceIntoOneStagedFile) {
    serve("a.txt", "shared bytes");
    serve("docs/copy.txt", "shared bytes");
    const DownloadResult result = download({1, 0});
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(server.requestCount("/srv/docs/copy.txt"), 1u) << "the first position's address is used";
    EXPECT_EQ(server.requestCount("/srv/a.txt"), 0u);
    ASSERT_EQ(result.slots.size(), 2u);
    for (const DownloadSlot& slot : result.slots) EXPECT_TRUE(slot.ok && slot.stagedName == md5Hex("shared bytes"));
    EXPECT_EQ(PatchEventRecorder::events(), std::vector<std::string>{"progress: 2/2"});
}

TEST_F(DownloadFilesTest, ABodyLongerThanTheDeclaredSizeIsAHashMismatch) {
    const std::string body(5000, 'z');
    server.respond("/srv/big.bin", 200, body);
    manifest.files.push_back({"big.bin", md5Hex(body), body.size() - 1});
    const DownloadResult result = download({0});
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(toUtf8(result.firstError), "Hash mismatch after download: big.bin\nwhile fetching the file big.bin from 127.0.0.1:" +
                                             std::to_string(server.port()));
    EXPECT_FALSE(result.slots[0].ok);
    EXPECT_FALSE(std::filesystem::exists(staging.pathFor(md5Hex(body))));
    EXPECT_EQ(errorLines(), std::vector<std::string>{"ERROR: " + server.url("/srv/big.bin") +
                                                     " \u2014 Hash mismatch after download: big.bin"});
}

TEST_F(DownloadFilesTest, AHostThatFailsEverythingIsGivenUpOnEarly) {
    std::vector<std::size_t> list;
    for (std::size_t i = 0; i < 1000; ++i) {
        manifest.files.push_back({"missing/" + std::to_string(i) + ".bin", md5Hex(std::to_string(i))});  // 404
        list.push_back(i);
    }
    const DownloadResult result = download(list);
    EXPECT_TRUE(result.gaveUp);
    EXPECT_GE(server.totalRequests(), static_cast<std::size_t>(kGiveUpAfterDownloads));
    EXPECT_LT(server.totalRequests(), static_cast<std::size_t>(kGiveUpAfterDownloads + 2 * kTransfersInFlight));
    EXPECT_EQ(result.failed, static_cast<std::int32_t>(server.totalRequests()));
    EXPECT_EQ(toUtf8(result.firstError).rfind("That file is not on the server right now (HTTP 404)", 0), 0u);
}

TEST_F(DownloadFilesTest, FailuresAreListedOneByOneUpToALimit) {
    std::vector<std::size_t> list;
    // Every third file fails: never more than half of those ended, however
    // the transfers in flight finish, so the stage goes on to the end.
    for (std::size_t i = 0; i < 3 * (kLoggedDownloadFailures + 20); ++i) {
        const std::string name = "f/" + std::to_string(i) + ".bin";
        if (i % 3 != 2) serve(name, "contents " + std::to_string(i));
        else manifest.files.push_back({name, md5Hex(name)});
        list.push_back(i);
    }
    const DownloadResult result = download(list);
    EXPECT_FALSE(result.gaveUp);
    EXPECT_EQ(result.failed, kLoggedDownloadFailures + 20);
    EXPECT_EQ(errorLines().size(), static_cast<std::size_t>(kLoggedDownloadFailures));
}

// A host that answers 503 twice and then the file: asked again on the same
// host after each announced pause (the pauses are the policy's; here they
// return at once, and the second is where the user cancels in the second case).
class DownloadRetryTest : public DownloadFilesTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DownloadRetryTest, ATransientFailureIsAskedAgainAfterAnAnnouncedPause) {
    const bool cancelInSecondPause = GetParam();
    std::atomic<int> asked{0};
    server.route("/srv/a.bin", [&](const test::LoopbackRequest&, test::LoopbackReply& reply) {
        if (asked.fetch_add(1) < 2) reply.status = 503;
        else reply.body = "alpha";
    });
    manifest.files.push_back({"a.bin", md5Hex("alpha")});
    HostPool hosts({{server.wideUrl("/srv.manifest"), server.wideUrl("/srv/")}});
    RetryPolicy retry;
    std::vector<std::chrono::milliseconds> pauses;
    retry.wait = [&](std::chrono::milliseconds wait, const std::atomic<bool>*) {
        pauses.push_back(wait);
        return !(cancelInSecondPause && pauses.size() == 2);
    };
    ASSERT_TRUE(staging.create());
    const DownloadResult result =
        downloadFiles(manifest, {0}, DownloadSources{hosts, retry, u"Demo"}, nullptr, staging, install.path());
    const std::string where = "127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(pauses, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(1), std::chrono::seconds(2)}));
    EXPECT_EQ(PatchEventRecorder::statuses(),
              (std::vector<std::string>{"Retrying in 1 s (attempt 2 of 3): " + where + " answered HTTP 503",
                                        "Retrying in 2 s (attempt 3 of 3): " + where + " answered HTTP 503"}));
    const std::string warning = "WARNING: " + server.url("/srv/a.bin") +
                                " \u2014 The server ran into a problem. Try again later (HTTP 503)";
    EXPECT_EQ(test::logMessages(logDir.path()).size(), 3u);  // opened, two warnings
    EXPECT_TRUE(errorLines().empty());
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(result.slots[0].ok, !cancelInSecondPause);
    EXPECT_EQ(server.requestCount("/srv/a.bin"), cancelInSecondPause ? 2u : 3u);
    if (!cancelInSecondPause) {
        EXPECT_EQ(staged(result.slots[0]), "alpha");
    }
    EXPECT_EQ(test::logMessages(logDir.path())[1], warning);
}

INSTANTIATE_TEST_SUITE_P(AnsweredOrCancelled, DownloadRetryTest, ::testing::Bool());

TEST_F(DownloadFilesTest, AMissingFileIsNotAskedForAgainAndItsErrorNamesTheFileAndHost) {
    manifest.files.push_back({"gone.bin", md5Hex("x")});
    HostPool hosts({{server.wideUrl("/srv.manifest"), server.wideUrl("/srv/")}});
    RetryPolicy retry;
    retry.wait = [](std::chrono::milliseconds, const std::atomic<bool>*) {
        ADD_FAILURE() << "no pause for a missing file";
        return true;
    };
    ASSERT_TRUE(staging.create());
    const DownloadResult result =
        downloadFiles(manifest, {0}, DownloadSources{hosts, retry, u"Demo Server"}, nullptr, staging, install.path());
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(server.requestCount("/srv/gone.bin"), 1u);
    EXPECT_EQ(toUtf8(result.firstError), "That file is not on the server right now (HTTP 404)\n"
                                         "while fetching the file gone.bin of Demo Server from 127.0.0.1:" +
                                             std::to_string(server.port()));
}

// A distant host: every answer comes half a second late, so transfers that
// are started together overlap even on a loaded machine.
class DownloadsInFlightTest : public DownloadFilesTest {
protected:
    void SetUp() override {
        DownloadFilesTest::SetUp();
        server.setAnswerDelay(std::chrono::milliseconds(500));
    }
    std::vector<std::size_t> serveMany(std::size_t count) {
        std::vector<std::size_t> list;
        for (std::size_t i = 0; i < count; ++i) {
            serve("f/" + std::to_string(i) + ".bin", "contents of file " + std::to_string(i));
            list.push_back(i);
        }
        return list;
    }
};

TEST_F(DownloadsInFlightTest, ManySmallFilesKeepTheFullNumberOfTransfersInFlight) {
    const DownloadResult result = download(serveMany(2 * kTransfersInFlight));
    EXPECT_EQ(result.failed, 0);
    EXPECT_TRUE(std::all_of(result.slots.begin(), result.slots.end(), [](const DownloadSlot& s) { return s.ok; }));
    // However few cores the machine has.
    EXPECT_EQ(server.mostRequestsAtOnce(), kTransfersInFlight);
}

TEST_F(DownloadsInFlightTest, CancelWithEveryTransferWaitingEndsTheStageWithoutFailures) {
    for (std::size_t i = 0; i < 40; ++i) {
        server.stallMidBody("/srv/s/" + std::to_string(i), "part", 100);
        manifest.files.push_back({"s/" + std::to_string(i), md5Hex("never complete " + std::to_string(i))});
    }
    std::vector<std::size_t> list(40);
    for (std::size_t i = 0; i < list.size(); ++i) list[i] = i;
    std::jthread canceller([&] {
        if (server.waitForRequests("/srv/s/15", 1)) requestPatchCancel();
    });
    const auto started = std::chrono::steady_clock::now();
    const DownloadResult result = download(list);
    canceller.join();
    // The stalls last until the server stops; the stage must not wait for them.
    EXPECT_LT(std::chrono::steady_clock::now() - started, LoopbackServer::kMaxWait / 4);
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(errorLines(), std::vector<std::string>{});
    EXPECT_LE(server.totalRequests(), kTransfersInFlight);
}

TEST_F(DownloadsInFlightTest, OneStalledTransferDoesNotHoldTheOthers) {
    setHttpStallTimeoutForTesting(std::chrono::seconds(2));
    std::vector<std::size_t> list = serveMany(2 * kTransfersInFlight);
    server.stallMidBody("/srv/stuck.bin", "half", 8);
    manifest.files.push_back({"stuck.bin", md5Hex("halfhalf")});
    list.insert(list.begin(), manifest.files.size() - 1);
    HostPool hosts({{server.wideUrl("/srv.manifest"), server.wideUrl("/srv/")}});
    RetryPolicy once;  // a stall is transient: not asked again here, to keep the test short
    once.attempts = 1;
    ASSERT_TRUE(staging.create());
    const DownloadResult result =
        downloadFiles(manifest, list, DownloadSources{hosts, once, {}}, nullptr, staging, install.path());
    setHttpStallTimeoutForTesting(kHttpDefaultStallTimeout);
    EXPECT_EQ(result.failed, 1);
    EXPECT_FALSE(result.slots[0].ok);
    EXPECT_TRUE(std::all_of(result.slots.begin() + 1, result.slots.end(), [](const DownloadSlot& s) { return s.ok; }));
}

}  // namespace
}  // namespace mendly
