#include "patch/host_pool.h"

#include <gtest/gtest.h>

#include "log/log_file.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

using namespace std::chrono_literals;
using Clock = HostPool::Clock;

PatchHostAddresses host(const std::string& name) {
    const std::u16string base = u"http://" + std::u16string(name.begin(), name.end());
    return {base + u"/aurum.manifest", base + u"/aurum/"};
}

class HostPoolTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LogFile::open(logDir.path())); }
    void TearDown() override { LogFile::close(); }

    std::vector<std::string> warnings() const {
        std::vector<std::string> out;
        for (const std::string& line : test::logMessages(logDir.path()))
            if (line.starts_with("WARNING: ")) out.push_back(line);
        return out;
    }
    // A transfer whose first byte comes at t0 and the rest of `bytes` `took` later; it serves its file.
    void serve(HostPool& pool, std::size_t h, std::uint64_t bytes, Clock::duration took) {
        HostPool::Transfer t = pool.begin(h);
        EXPECT_TRUE(pool.received(t, 1, t0));
        EXPECT_TRUE(pool.received(t, bytes - 1, t0 + took));
        pool.end(t, true, t0 + took);
    }

    test::TempDir logDir{"host-pool-log"};
    const Clock::time_point t0 = Clock::now();
};

TEST_F(HostPoolTest, FilesGoToTheActiveHostWithFewestTransfersAndDemotedOnesOnlyAsALastResort) {
    HostPool pool({host("a"), host("b"), host("c")});
    const std::vector<bool> none(3, false);
    EXPECT_EQ(pool.pick(none), 0u);  // ties: catalog order
    HostPool::Transfer onA = pool.begin(0);
    EXPECT_EQ(pool.pick(none), 1u);
    HostPool::Transfer onB = pool.begin(1);
    EXPECT_EQ(pool.pick(none), 2u);
    pool.end(onA, true, t0);
    EXPECT_EQ(pool.pick(none), 0u);
    pool.end(onB, true, t0);

    pool.demote(0, u"That file is not on the server right now (HTTP 404)");
    EXPECT_FALSE(pool.isActive(0));
    EXPECT_EQ(pool.pick(none), 1u);
    EXPECT_EQ(pool.pick({false, true, true}), 0u) << "a demoted host when every active one failed the file";
    EXPECT_EQ(pool.pick({true, true, true}), std::nullopt);
    EXPECT_TRUE(pool.hasOtherCandidate(1, {true, false, false}));
    EXPECT_FALSE(pool.hasOtherCandidate(1, {true, false, true}));
    EXPECT_EQ(warnings(), std::vector<std::string>{"WARNING: Patch host a is not used for the rest of this run \xE2\x80\x94 "
                                                   "That file is not on the server right now (HTTP 404)"});
}

TEST_F(HostPoolTest, AHostBelowAThirdOfTheBestRateIsDemotedOnceMeasuredAndLosesItsTransfer) {
    HostPool pool({host("fast"), host("slow")});
    serve(pool, 0, 1 << 20, 100ms);  // 10 MiB/s
    HostPool::Transfer crawl = pool.begin(1);
    // The wait for the first byte is not slowness; after it, nothing is
    // judged before the host has been receiving for a second, however slowly.
    EXPECT_TRUE(pool.received(crawl, 100, t0 + 10s));
    EXPECT_TRUE(pool.received(crawl, 100, t0 + 10s + 900ms));
    EXPECT_TRUE(pool.isActive(1));
    EXPECT_FALSE(pool.received(crawl, 100, t0 + 11s)) << "its transfer should move to another host";
    EXPECT_FALSE(pool.isActive(1));
    pool.end(crawl, false, t0 + 11s);
    ASSERT_EQ(warnings().size(), 1u);
    EXPECT_TRUE(warnings()[0].starts_with("WARNING: Patch host slow is not used for the rest of this run \xE2\x80\x94 "
                                          "it delivers 300 B/s per transfer, below a third of the 10.0 MB/s of fast"))
        << warnings()[0];

    // A transfer that starts on the demoted host (nothing else left for its
    // file) is not stopped again.
    HostPool::Transfer lastResort = pool.begin(1);
    EXPECT_TRUE(pool.received(lastResort, 10, t0 + 12s));
    EXPECT_TRUE(pool.received(lastResort, 10, t0 + 15s));
    pool.end(lastResort, true, t0 + 15s);
}

TEST_F(HostPoolTest, AHostAtAThirdOfTheBestOrMoreStays) {
    HostPool pool({host("fast"), host("steady")});
    serve(pool, 0, 3 << 20, 1s);         // 3 MiB/s
    serve(pool, 1, (1 << 20) + 1000, 1s);  // just above 1 MiB/s
    EXPECT_TRUE(pool.isActive(1));
    EXPECT_TRUE(warnings().empty());
}

TEST_F(HostPoolTest, TheLastActiveHostIsNeverDemotedAndASingleHostLogsNothing) {
    HostPool pair({host("a"), host("b")});
    pair.demote(0, u"refused");
    pair.demote(1, u"refused");
    EXPECT_TRUE(pair.isActive(1));
    // With b alone active nothing is judged, however slow it is.
    HostPool::Transfer crawl = pair.begin(1);
    EXPECT_TRUE(pair.received(crawl, 1, t0 + 10s));
    pair.end(crawl, true, t0 + 10s);
    EXPECT_TRUE(pair.isActive(1));
    EXPECT_EQ(warnings().size(), 1u);

    HostPool single({host("only")});
    single.demote(0, u"refused");
    single.logSummary();
    EXPECT_TRUE(single.isActive(0));
    EXPECT_EQ(warnings().size(), 1u);
}

TEST_F(HostPoolTest, TheSummaryNamesWhatEachHostServed) {
    HostPool pool({host("a"), host("b")});
    serve(pool, 0, 1000, 10ms);
    serve(pool, 0, 500, 10ms);
    HostPool::Transfer failed = pool.begin(1);
    EXPECT_TRUE(pool.received(failed, 70, t0));
    pool.end(failed, false, t0 + 10ms);
    pool.demote(1, u"Hash mismatch after download: a.bin");
    pool.logSummary();
    const auto lines = test::logMessages(logDir.path());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"Patch host a served 2 file(s), 1500 bytes",
                                        "Patch host b served 0 file(s), 0 bytes, demoted"}));
}

}  // namespace
}  // namespace mendly
