// The size lines of a run: what it will fetch, what it reuses, what it did.
#include <gtest/gtest.h>

#include "log/text.h"
#include "patch/download_stage.h"
#include "patch/run_summary.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
constexpr std::uint64_t kMiB = 1048576;

struct PlanLineCase {
    DownloadPlan plan;
    std::optional<std::uint64_t> freeSpace;
    const char* line;
};

class DownloadPlanLine : public ::testing::TestWithParam<PlanLineCase> {};

TEST_P(DownloadPlanLine, NamesSizeFilesAndFreeSpace) {
    EXPECT_EQ(toUtf8(downloadPlanLine(GetParam().plan, GetParam().freeSpace)), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DownloadPlanLine,
    ::testing::Values(
        PlanLineCase{{43, 56 * kMiB + kMiB / 5, 0, 0}, 12 * 1024 * kMiB + 300 * kMiB,
                     "Download: 56.2 MB in 43 file(s) (free space 12.3 GB)"},
        PlanLineCase{{1, 0, 0, 0}, std::nullopt, "Download: 0.0 MB in 1 file(s)"},
        // A manifest without sizes: only the count, never a made-up size.
        PlanLineCase{{7, std::nullopt, 0, 0}, 5 * kMiB, "Download: 7 file(s) (free space 5.0 MB)"},
        // Everything staged already: nothing left to fetch.
        PlanLineCase{{0, 0, 3, 9 * kMiB}, std::nullopt, "Download: 0.0 MB in 0 file(s)"},
        // Just below 1 GB does not read "1024.0 MB".
        PlanLineCase{{2, 1024 * kMiB - 1, 0, 0}, std::nullopt, "Download: 1.0 GB in 2 file(s)"}));

struct SummaryCase {
    std::uint64_t fetched;
    std::uint64_t written;
    std::int64_t ms;
    const char* line;
};

class RunSummaryLine : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(RunSummaryLine, NamesFetchedWrittenAndTime) {
    const SummaryCase& c = GetParam();
    EXPECT_EQ(toUtf8(runSummaryLine(c.fetched, c.written, milliseconds(c.ms))), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Times, RunSummaryLine,
    ::testing::Values(SummaryCase{5 * kMiB + 6 * kMiB / 10, 18 * kMiB, 400, "Fetched 5.6 MB, wrote 18.0 MB in 0.4 s"},
                      SummaryCase{0, 0, 0, "Fetched 0.0 MB, wrote 0.0 MB in 0.0 s"},
                      SummaryCase{0, 0, -5, "Fetched 0.0 MB, wrote 0.0 MB in 0.0 s"},  // a clock stepping back
                      // 59.96 s would print "60.0 s": it is a minute.
                      SummaryCase{kMiB, kMiB, 59960, "Fetched 1.0 MB, wrote 1.0 MB in 1 min 00 s"},
                      SummaryCase{kMiB, kMiB, 185000, "Fetched 1.0 MB, wrote 1.0 MB in 3 min 05 s"},
                      SummaryCase{3 * 1024 * kMiB, 0, 3900000, "Fetched 3.0 GB, wrote 0.0 MB in 1 h 05 min"}));

TEST(ReuseLine, OnlyWhenSomethingIsReused) {
    EXPECT_FALSE(reuseLine(DownloadPlan{4, 10, 0, 0}));
    EXPECT_EQ(toUtf8(*reuseLine(DownloadPlan{4, 10, 2, 45 * kMiB + kMiB / 10})), "Reusing 45.1 MB already downloaded");
    // A staged file of no bytes is still reused.
    EXPECT_EQ(toUtf8(*reuseLine(DownloadPlan{0, 0, 1, 0})), "Reusing 0.0 MB already downloaded");
}

class PlanDownload : public ::testing::Test {
protected:
    test::TempDir install{"plan-install"};
    StagingArea staging{install.path()};
    PatchManifest manifest;

    std::size_t add(std::string relative, std::string md5, std::optional<std::uint64_t> size) {
        manifest.files.emplace_back(std::move(relative), std::move(md5), size);
        return manifest.files.size() - 1;
    }
};

TEST_F(PlanDownload, SharedFilesCountOnceAndStagedOnesAreReusedNotFetched) {
    const auto a = add("a.bin", "0123456789abcdef0123456789abcdef", 1000);
    const auto copy = add("copy/a.bin", "0123456789abcdef0123456789abcdef", 1000);  // same bytes
    const auto b = add("b.bin", "0123456789abcdef0123456789abcde0", 500);
    const auto c = add("c.bin", "0123456789abcdef0123456789abcde1", 70);
    ASSERT_TRUE(staging.create());
    test::writeFile(staging.pathFor(stagedNameFor(manifest.files[b])), std::string(480, 'b'));
    test::writeFile(staging.pathFor(stagedNameFor(manifest.files[c]) + ".part"), std::string(60, 'c'));

    const DownloadPlan plan = planDownload(manifest, {a, copy, b, c}, staging);
    EXPECT_EQ(plan.files, 2u);  // a (once) and c, whose download was cut short
    EXPECT_EQ(plan.bytes, 1070u);
    EXPECT_EQ(plan.reusedFiles, 1u);
    EXPECT_EQ(plan.reusedBytes, 480u);  // what is on disk, not what the manifest says
}

TEST_F(PlanDownload, OneEntryWithoutSizeLeavesTheSizeUnknown) {
    const auto a = add("a.bin", "0123456789abcdef0123456789abcdef", 1000);
    const auto b = add("b.bin", "0123456789abcdef0123456789abcde0", std::nullopt);
    const DownloadPlan plan = planDownload(manifest, {a, b}, staging);  // no staging folder at all
    EXPECT_EQ(plan.files, 2u);
    EXPECT_FALSE(plan.bytes);
    EXPECT_EQ(plan.reusedFiles, 0u);
}

TEST(BytesOfHolders, SumsWhatExistsAndSkipsWhatDoesNot) {
    test::TempDir install{"holders"};
    test::writeFile(install.path() / "gfx.pak", std::string(300, 'x'));
    test::writeFile(install.path() / "bin" / "game.exe", std::string(20, 'y'));
    EXPECT_EQ(bytesOfHolders({"gfx.pak", "bin/game.exe", "gone.pak"}, install.path()), 320u);
    EXPECT_EQ(bytesOfHolders({}, install.path()), 0u);
}

TEST(FreeSpaceAt, AFolderNotYetMadeAsksItsNearestParent) {
    test::TempDir root{"free"};
    const auto here = freeSpaceAt(root.path());
    ASSERT_TRUE(here);
    EXPECT_TRUE(freeSpaceAt(root.path() / "not" / "yet" / "made"));
}

}  // namespace
}  // namespace mendly
