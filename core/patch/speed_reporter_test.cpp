#include "patch/speed_reporter.h"

#include <gtest/gtest.h>

#include <clocale>

#include "patch/patch_reporting.h"
#include "support/patch_fixture.h"

namespace mendly {
namespace {

using test::PatchEventRecorder;

TEST(FormatSpeedTest, BelowOneKilobyteShowsWholeBytes) {
    EXPECT_EQ(formatSpeed(500), u"500 B/s");
    EXPECT_EQ(formatSpeed(1023.9), u"1023 B/s");
    EXPECT_EQ(formatSpeed(0), u"0 B/s");
}

TEST(FormatSpeedTest, KilobytesAndMegabytesShowOneDecimal) {
    EXPECT_EQ(formatSpeed(1024), u"1.0 KB/s");
    EXPECT_EQ(formatSpeed(1536), u"1.5 KB/s");
    EXPECT_EQ(formatSpeed(1048575), u"1024.0 KB/s");
    EXPECT_EQ(formatSpeed(1048576), u"1.0 MB/s");
    EXPECT_EQ(formatSpeed(2621440), u"2.5 MB/s");
    EXPECT_EQ(formatSpeed(1234.0 * 1048576), u"1234.0 MB/s");
}

TEST(FormatSpeedTest, DecimalPointIsAPointWhateverTheLocale) {
    // Only meaningful where a comma locale is installed; harmless elsewhere.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous != nullptr ? previous : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(formatSpeed(1536), u"1.5 KB/s");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

class SpeedReporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        PatchEventRecorder::clear();
        setPatchCallbacks(&PatchEventRecorder::onStatus, &PatchEventRecorder::onProgress);
    }
    void TearDown() override { setPatchCallbacks(nullptr, nullptr); }

    std::atomic<std::uint64_t> bytes{0};
};

TEST_F(SpeedReporterTest, FirstSpeedAppearsOnlyAfter800Milliseconds) {
    SpeedReporter reporter(bytes, nullptr);
    bytes = 1600;
    reporter.tickAt(0);
    reporter.tickAt(399);
    reporter.tickAt(400);
    reporter.tickAt(799);
    EXPECT_TRUE(PatchEventRecorder::statuses().empty());
    reporter.tickAt(800);
    EXPECT_EQ(PatchEventRecorder::statuses(), std::vector<std::string>{"Downloading files (2.0 KB/s)"});
}

TEST_F(SpeedReporterTest, LaterSpeedsComeAtMostEvery800Milliseconds) {
    SpeedReporter reporter(bytes, nullptr);
    bytes = 1000;
    reporter.tickAt(1000);  // 1000 B in 1 s
    reporter.tickAt(1500);
    reporter.tickAt(1799);
    bytes = 3 * 1048576;
    reporter.tickAt(1800);  // 3 MiB in 1.8 s
    reporter.tickAt(2599);
    reporter.tickAt(2600);
    EXPECT_EQ(PatchEventRecorder::statuses(),
              (std::vector<std::string>{"Downloading files (1000 B/s)", "Downloading files (1.7 MB/s)",
                                        "Downloading files (1.2 MB/s)"}));
}

}  // namespace
}  // namespace mendly
