#include "console_output.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "log/log_file.h"
#include "log/text.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

// A ConsoleOutput writing into memory, read back as bytes.
class ConsoleOutputTest : public ::testing::Test {
protected:
    std::string written() {
        const std::lock_guard lock(mutex_);
        return text_;
    }

    std::mutex mutex_;
    std::string text_;
    ConsoleOutput::Sink sink_ = [this](std::string_view utf8) {
        const std::lock_guard lock(mutex_);
        text_ += utf8;
    };
};

TEST(ProgressBarText, ThreeOfFourMatchesTheKnownBar) {
    EXPECT_EQ(progressBarText(3, 4), u"  [##################------] 75%  3/4           ");
    EXPECT_EQ(progressBarText(3, 4).size(), 48u);
}

TEST(ProgressBarText, DoneIsClampedIntoZeroToTotal) {
    EXPECT_EQ(progressBarText(9, 4), u"  [########################] 100%  4/4          ");
    EXPECT_EQ(progressBarText(-7, 4), u"  [------------------------] 0%  0/4            ");
}

TEST(ProgressBarText, FilledCellsAndPercentTruncate) {
    // 1/3: 33.3% and 8 cells exactly; 2/3: 66.6% -> 66, 16 cells.
    EXPECT_EQ(progressBarText(1, 3), u"  [########----------------] 33%  1/3           ");
    EXPECT_EQ(progressBarText(2, 3), u"  [################--------] 66%  2/3           ");
    // 1/25: 0.96 cells -> none filled, 4%.
    EXPECT_EQ(progressBarText(1, 25).substr(0, 32), u"  [------------------------] 4% ");
}


TEST(ProgressBarText, LargeCountsNeitherOverflowNorGetShortened) {
    EXPECT_EQ(progressBarText(1'234'567'890, 2'000'000'000), u"  [##############----------] 61%  1234567890/2000000000");
    const std::u16string bar = progressBarText(2'147'483'647, 2'147'483'647);
    EXPECT_EQ(bar.substr(0, 34), u"  [########################] 100% ");
    EXPECT_EQ(progressBarText(1'000'000'000, 2'000'000'000).substr(0, 33), u"  [############------------] 50% ");
}

TEST_F(ConsoleOutputTest, RedirectedOutputIsPlainUtf8) {
    ConsoleOutput console(sink_, false);
    console.printSegments({{u"Kaltris CLI Updater", ConsoleColour::White},
                           {u" — Ёлка", ConsoleColour::Red}});
    console.printLine(u"plain");
    EXPECT_EQ(written(), "Kaltris CLI Updater \xE2\x80\x94 \xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0\nplain\n");
}

TEST_F(ConsoleOutputTest, TerminalSegmentsAreColouredAndResetBeforeTheLineFeed) {
    ConsoleOutput console(sink_, true);
    console.printSegments({{u"a", ConsoleColour::White},
                           {u"b", ConsoleColour::Default},
                           {u"c", ConsoleColour::Green},
                           {u"d", ConsoleColour::Yellow},
                           {u"e", ConsoleColour::Red},
                           {u"f", static_cast<ConsoleColour>(42)}});
    EXPECT_EQ(written(),
              "\x1b[97ma\x1b[0mb\x1b[92mc\x1b[93md\x1b[91me\x1b[0mf\x1b[0m\n");
}


TEST_F(ConsoleOutputTest, ProgressRedrawsWithCarriageReturnAndNextLineStartsFresh) {
    ConsoleOutput console(sink_, false);
    console.printProgress(1, 4);
    console.printProgress(3, 4);
    console.printLine(u"Finished retail.");
    console.printLine(u"next");
    EXPECT_EQ(written(), "\r  [######------------------] 25%  1/4           "
                         "\r  [##################------] 75%  3/4           "
                         "\nFinished retail.\nnext\n");
}

TEST_F(ConsoleOutputTest, ProgressWithTotalZeroOrLessPrintsNothingAndOpensNoLine) {
    ConsoleOutput console(sink_, false);
    console.printProgress(0, 0);
    console.printProgress(5, -1);
    console.printLine(u"x");
    EXPECT_EQ(written(), "x\n");
}

TEST_F(ConsoleOutputTest, EndProgressLineWritesOneLineFeedOnlyWhenABarIsOpen) {
    ConsoleOutput console(sink_, false);
    console.endProgressLine();
    console.printProgress(4, 4);
    console.endProgressLine();
    console.endProgressLine();
    console.printSegments({{u"s", ConsoleColour::Green}});
    EXPECT_EQ(written(), "\r  [########################] 100%  4/4          \ns\n");
}

TEST_F(ConsoleOutputTest, ErrorEndsTheBarPrintsAndLogsAndReturnsOne) {
    test::TempDir logDir("tw-log");
    ASSERT_TRUE(LogFile::open(logDir.path()));
    ConsoleOutput console(sink_, true);
    console.printProgress(2, 4);
    EXPECT_EQ(console.printError(u"Ёлка failed"), 1);
    LogFile::close();

    EXPECT_EQ(written(), "\r  [############------------] 50%  2/4           \n"
                         "Error: \xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 failed\n");
    const std::string log = test::readFile(logDir / "launcher.log");
    EXPECT_NE(log.find(" ERROR: \xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0 failed\n"), std::string::npos) << log;
}

TEST_F(ConsoleOutputTest, LinesFromManyThreadsNeverMix) {
    ConsoleOutput console(sink_, true);
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&console, t] {
            for (int i = 0; i < kLines; ++i) {
                const std::u16string text = u"thread " + toDecimal(t) + u" line " + toDecimal(i);
                if (i % 3 == 0)
                    console.printSegments({{text, ConsoleColour::Green}});
                else
                    console.printLine(text);
                console.printProgress(i, kLines);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    console.endProgressLine();

    // Every piece between line feeds is a whole text line (possibly coloured)
    // or a run of complete bar redraws.
    std::set<std::string> seen;
    std::istringstream in(written());
    std::string piece;
    while (std::getline(in, piece)) {
        if (!piece.empty() && piece[0] == '\r') {
            std::string rest = piece;
            while (!rest.empty()) {
                ASSERT_EQ(rest[0], '\r') << piece;
                const auto next = rest.find('\r', 1);
                const std::string bar = rest.substr(1, next == std::string::npos ? std::string::npos : next - 1);
                ASSERT_EQ(bar.size(), 48u) << piece;
                ASSERT_EQ(bar.substr(0, 3), "  [") << piece;
                rest = next == std::string::npos ? "" : rest.substr(next);
            }
            continue;
        }
        if (piece.rfind("\x1b[92m", 0) == 0) {
            ASSERT_GE(piece.size(), 9u);
            ASSERT_EQ(piece.substr(piece.size() - 4), "\x1b[0m") << piece;
            piece = piece.substr(5, piece.size() - 9);
        }
        ASSERT_EQ(piece.rfind("thread ", 0), 0u) << piece;
        EXPECT_TRUE(seen.insert(piece).second) << "twice: " << piece;
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
}

// Reports out of order, as verification workers send them: what is shown
// never steps back, in every style; 0 starts a stage anew.
TEST_F(ConsoleOutputTest, ProgressNeverStepsBackWithinAStage) {
    ConsoleOutput console(sink_, true);
    console.beginStage(PatchStage::Verify);
    console.printProgress(46, 227);
    console.printProgress(38, 227);
    console.printProgress(47, 227);
    console.printProgress(0, 227);
    EXPECT_EQ(written(), "\r" + toUtf8(progressBarText(46, 227)) + "\r" + toUtf8(progressBarText(47, 227)) + "\r" +
                             toUtf8(progressBarText(0, 227)));
}

TEST_F(ConsoleOutputTest, LinesStyleWritesAtMostOneLinePerFivePercentAndSpeedDuringADownload) {
    ConsoleOutput console(sink_, false, ConsoleStyle::Lines);
    console.printStatus(u"Verifying local files...");
    console.beginStage(PatchStage::Verify);
    for (int done = 0; done <= 200; ++done) console.printProgress(done, 200);
    console.printStatus(u"Downloading files...");
    console.beginStage(PatchStage::Download);
    console.printSpeedStatus(u"Downloading files (1.0 MB/s)");  // carried by the lines instead
    console.printTransfer({3u << 20, 10u << 20, 1048576.0, 7});
    console.printProgress(0, 3);
    console.printProgress(1, 3);
    console.printProgress(3, 3);
    const std::string out = written();
    EXPECT_EQ(out.find('\r'), std::string::npos);
    std::istringstream in(out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u + 20u + 1u + 2u) << out;
    EXPECT_EQ(lines[0], "  Verifying local files...");
    EXPECT_EQ(lines[1], "  5%  10/200");
    EXPECT_EQ(lines[20], "  100%  200/200");
    EXPECT_EQ(lines[21], "  Downloading files...");
    EXPECT_EQ(lines[22], "  33%  1/3  1.0 MB/s  7 s left");
    EXPECT_EQ(lines[23], "  100%  3/3  1.0 MB/s  7 s left");
}

TEST_F(ConsoleOutputTest, JsonStyleWritesOneObjectPerEventWithStageCountsBytesAndSpeed) {
    ConsoleOutput console(sink_, false, ConsoleStyle::Json);
    console.printSegments({{u"Kaltris CLI Updater", ConsoleColour::White}});
    console.beginStage(PatchStage::Download);
    console.printStatus(u"Downloading files...");
    console.printProgress(1, 4);
    console.printTransfer({2048, 8192, 1024.0, -1});
    console.printResult(u"Updated 1, skipped 0, failed 0.");
    std::istringstream in(written());
    std::vector<nlohmann::json> events;
    for (std::string line; std::getline(in, line);) {
        events.push_back(nlohmann::json::parse(line, nullptr, false));
        ASSERT_TRUE(events.back().is_object()) << line;
    }
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0]["event"], "message");
    EXPECT_EQ(events[1], nlohmann::json::parse(R"({"event":"status","stage":"download","text":"Downloading files..."})"));
    EXPECT_EQ(events[2], nlohmann::json::parse(
                             R"({"event":"progress","stage":"download","done":1,"total":4,"bytes":0,"speed":0})"));
    EXPECT_EQ(events[3], nlohmann::json::parse(R"({"event":"transfer","stage":"download","done":1,"total":4,
                                                   "bytes":2048,"speed":1024,"bytesTotal":8192})"));
    EXPECT_EQ(events[4]["event"], "result");
}

TEST_F(ConsoleOutputTest, QuietStyleKeepsOnlyErrorsAndResults) {
    ConsoleOutput console(sink_, true, ConsoleStyle::Quiet);
    console.printSegments({{u"banner", ConsoleColour::White}});
    console.printLine(u"Installing demo");
    console.printStatus(u"Verifying local files...");
    console.printProgress(1, 2);
    console.printResult(u"Updated 1, skipped 0, failed 0.");
    EXPECT_EQ(console.printError(u"broken"), 1);
    EXPECT_EQ(written(), "Updated 1, skipped 0, failed 0.\nError: broken\n");
}

}  // namespace
}  // namespace mendly
