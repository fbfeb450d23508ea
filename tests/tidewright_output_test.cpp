// tidewright's download limit and output modes, run as a program against a
// patch host on loopback: the limit holds for all transfers together, a pipe
// gets plain lines, --json one parseable object per line.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/loopback_server.h"
#include "support/patch_fixture.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class TidewrightOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy_file(TIDEWRIGHT_EXE, program.path() / "tidewright");
        host.serveFolder(hostRoot.path());
        demo.addFile("kaltrisclient.exe", "client executable");
        demo.addFile("ini/updater.ini", "[updater]\n");
        test::writeFile(program / "customlist.json",
                        R"({"servers":[{"name":"demo","server":"demo","patchBaseUrl":")" + host.baseUrl() +
                            R"(","launchExecutable":"kaltrisclient.exe"}]})");
    }
    // `count` files of `size` bytes each (different bytes, so none is fetched twice).
    void publishFiles(int count, std::size_t size) {
        for (int i = 0; i < count; ++i)
            demo.addFile("data/part" + std::to_string(i) + ".bin", std::string(size, static_cast<char>('a' + i)));
        demo.publish();
    }
    test::ProcessResult run(std::vector<std::string> args) {
        args.push_back("--skip-self-update");
        return test::runProcess(program.path() / "tidewright", {args, {}, program.path(), std::chrono::seconds(60)});
    }

    test::TempDir program{"tw-output"};
    test::TempDir hostRoot{"tw-output-host"};
    test::LoopbackServer host;
    test::PatchHostFolder demo{hostRoot.path(), "demo"};
};

// 5 MiB in eight files at 512 KiB/s: about 10 s however many are in flight.
TEST_F(TidewrightOutputTest, TheLimitHoldsForAllTransfersTogetherWithinATenth) {
    constexpr std::uint64_t kLimit = 512u << 10;
    publishFiles(8, 640u << 10);
    const auto start = std::chrono::steady_clock::now();
    const auto r = run({"--update-single", "demo", "--limit-rate", "512K"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const double rate = static_cast<double>(8u * (640u << 10)) / seconds;
    EXPECT_GT(rate, kLimit * 0.9) << seconds << " s";
    EXPECT_LT(rate, kLimit * 1.1) << seconds << " s";
    EXPECT_GE(host.mostRequestsAtOnce(), 4u);  // the files came in parallel, sharing the one limit
    EXPECT_NE(test::readFile(program / "launcher.log").find("Download limit: 512K per second"), std::string::npos);
}

TEST_F(TidewrightOutputTest, ALimitThatDoesNotReadIsRefusedBeforeAnythingRuns) {
    publishFiles(1, 100);
    for (const char* value : {"fast", "1K", "5MB"}) {
        const auto r = run({"--update-single", "demo", "--limit-rate", value});
        EXPECT_EQ(r.exitCode, 1) << value;
        EXPECT_NE(r.out.find(std::string("Error: \"") + value + "\" is not a download limit"), std::string::npos)
            << r.out;
    }
    EXPECT_EQ(host.totalRequests(), 0u);
    EXPECT_EQ(run({"--update-single", "demo", "--limit-rate"}).exitCode, 1);
}

// A pipe: the stage lines, then at most one line per 5% of each stage, and no
// carriage-return bars.
TEST_F(TidewrightOutputTest, OnAPipeProgressComesAsPlainLinesAtMostEveryFivePercent) {
    publishFiles(60, 2000);
    const auto r = run({"--update-single", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  Downloading files...\n"), std::string::npos) << r.out;
    int percentLines = 0, lastPercent = -1;
    for (const std::string& line : lines(r.out)) {
        const auto sign = line.find('%');
        if (line.rfind("  ", 0) != 0 || sign == std::string::npos || line.find('/') == std::string::npos) {
            lastPercent = -1;  // a stage line starts the next stage's steps
            continue;
        }
        const int percent = std::stoi(line.substr(2, sign - 2));
        if (percent < 100) {
            EXPECT_GE(percent, lastPercent + 5) << line << "\n" << r.out;
        }
        lastPercent = percent;
        ++percentLines;
    }
    EXPECT_GT(percentLines, 0) << r.out;
    EXPECT_NE(r.out.find("  100%  62/62\n"), std::string::npos) << r.out;
}

TEST_F(TidewrightOutputTest, JsonWritesOneObjectPerLineWithStageCountsBytesAndSpeed) {
    publishFiles(20, 4000);
    const auto r = run({"--json", "--update-single", "demo"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    std::vector<nlohmann::json> events;
    for (const std::string& line : lines(r.out)) {
        events.push_back(nlohmann::json::parse(line, nullptr, false));
        ASSERT_TRUE(events.back().is_object()) << line;
    }
    bool sawDownload = false;
    std::int64_t lastDone = -1;
    for (const auto& event : events) {
        if (event["event"] != "progress" || event["stage"] != "download") continue;
        for (const char* key : {"done", "total", "bytes", "speed"}) EXPECT_TRUE(event[key].is_number()) << event;
        EXPECT_GE(event["done"].get<std::int64_t>(), lastDone) << event;
        lastDone = event["done"].get<std::int64_t>();
        sawDownload = true;
    }
    EXPECT_TRUE(sawDownload) << r.out;
    EXPECT_EQ(lastDone, 22);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), nlohmann::json::parse(R"({"event":"result","text":"Updated 1, skipped 0, failed 0."})"));
}

TEST_F(TidewrightOutputTest, QuietPrintsOnlyTheSummary) {
    publishFiles(3, 100);
    const auto r = run({"--update-single", "demo", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, "Updated 1, skipped 0, failed 0.\n");
}

}  // namespace
}  // namespace mendly
