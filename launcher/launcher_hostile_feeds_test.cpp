// The launcher program's news panels against hostile feed hosts, on a private
// Xvfb display: a huge unbroken date, a host that trickles, and a page that
// asks for hundreds of feeds at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "support/loopback_server.h"
#include "support/process_runner.h"
#include "support/temp_dir.h"
#include "display_suite.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

// The bound the launcher documents for its process (EnginePageHost::kMostThreads).
constexpr int kMostLauncherThreads = 48;
constexpr int kParallelFeeds = 300;

class LauncherHostileFeeds : public test::DisplaySuite {
protected:
    void SetUp() override {
        fs::copy_file(LAUNCHER_EMPTY_CATALOG_EXE, folder / "launcher");
        test::writeFile(folder / "customlist.json",
                        R"({"servers":[{"name":"loop","desc":"Loopback Server","server":"aurum","patchBaseUrl":")" +
                            server.baseUrl() + R"(","launchExecutable":"Kaltris.exe"}]})");
    }

    test::ProcessResult run(const std::string& steps) {
        const fs::path script = folder / "steps.js";
        test::writeFile(script, steps);
        test::ProcessOptions options;
        options.args = {"--skip-self-update", "--test-answer-dialogs", "--test-script", script.string()};
        options.env = {{"DISPLAY", display->name()}, {"GDK_BACKEND", "x11"}, {"DBUS_SESSION_BUS_ADDRESS", ""}};
        options.workingDirectory = folder.path();
        options.timeLimit = std::chrono::seconds(120);
        return test::runProcess(folder / "launcher", options);
    }

    // The JSON result of step `number` ("step N: <json>"); null when missing.
    static nlohmann::json stepResult(const std::string& out, int number) {
        const std::string prefix = "step " + std::to_string(number) + ": ";
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) return nlohmann::json::parse(line.substr(prefix.size()), nullptr, false);
        return nullptr;
    }
    static int stepThreads(const std::string& out, int number) {
        const std::string prefix = "step " + std::to_string(number) + ": threads ";
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            if (line.rfind(prefix, 0) == 0) return std::stoi(line.substr(prefix.size()));
        return -1;
    }

    test::TempDir folder{"launcher_feeds"};
    test::LoopbackServer server;
};


TEST_F(LauncherHostileFeeds, AHugeDateIsDroppedAndTheFeedRendersAtOnce) {
    const std::string word(900 * 1024, '9');
    server.respond("/big", 200,
                   "<rss><channel><item><title>Big</title><link>https://k.invalid/1</link><pubDate>" + word +
                       "</pubDate><description>Short</description></item></channel></rss>",
                   "application/rss+xml");
    const auto result = run(R"JS(
const panel = document.querySelector('#rss-news');
const feed = await xcall('fetchRssFeed', ')JS" + server.url("/big") + R"JS(', 6);
const start = performance.now();
panel.innerHTML = renderFeed(feed);
void panel.offsetHeight;
await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
return [Math.round(performance.now() - start), feed.items.length, feed.items[0].date,
        panel.querySelector('.rss-title').textContent, panel.querySelector('.rss-date') === null];
)JS");
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const auto steps = stepResult(result.out, 1);
    ASSERT_TRUE(steps.is_array()) << result.out;
    EXPECT_LT(steps[0].get<int>(), 500) << "rendering took " << steps[0] << " ms";
    EXPECT_EQ(steps[1], 1);
    EXPECT_EQ(steps[2], "");
    EXPECT_EQ(steps[3], "Big");
    EXPECT_EQ(steps[4], true);
}

TEST_F(LauncherHostileFeeds, ATricklingHostEndsAsNewsUnavailableAndManyFeedsShareFewThreads) {
    server.streamBody("/trickle", 8, std::chrono::milliseconds(100));  // endless, 80 bytes a second
    for (int i = 0; i < kParallelFeeds; ++i) server.stallBeforeHeaders("/stall" + std::to_string(i));
    const auto result = run(R"JS(
const panel = document.querySelector('#rss-news');
const start = performance.now();
await loadRssFeed(')JS" + server.url("/trickle") + R"JS(', panel, 6);
return [panel.textContent, Math.round(performance.now() - start)];
---
window.feeds = [];
for (let i = 0; i < )JS" + std::to_string(kParallelFeeds) + R"JS(; i++)
  window.feeds.push(xcall('fetchRssFeed', ')JS" + server.url("/stall") + R"JS(' + i, 6).then((f) => f.error));
// Answered after every call before it has been taken.
await xcall('getUiState');
return 'sent';
---
#threads
---
const start = performance.now();
const errors = await Promise.all(window.feeds);
return [[...new Set(errors)].sort(), Math.round(performance.now() - start)];
)JS");
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const auto trickle = stepResult(result.out, 1);
    ASSERT_TRUE(trickle.is_array()) << result.out;
    EXPECT_EQ(trickle[0], "News unavailable");
    EXPECT_GE(trickle[1].get<int>(), 9000);
    EXPECT_LT(trickle[1].get<int>(), 12000);

    const int threads = stepThreads(result.out, 3);
    EXPECT_GT(threads, 0) << result.out;
    EXPECT_LT(threads, kMostLauncherThreads);
    const auto all = stepResult(result.out, 4);
    ASSERT_TRUE(all.is_array()) << result.out;
    EXPECT_EQ(all[0], nlohmann::json::array({"News unavailable", "News unavailable (too many news requests at once)"}));
    EXPECT_LT(all[1].get<int>(), 12000);  // every call within its deadline
}

}  // namespace
}  // namespace mendly
