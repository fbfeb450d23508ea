#include "test_hooks.h"

#include "platform/process.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <system_error>
#include <utility>

#include "engine_window.h"
#include "window_capture.h"

namespace mendly {
namespace {

// Milliseconds since this process was started (the kernel's start time, so
// loading the program and its libraries counts).
double msSinceProcessStart() {
    std::ifstream in("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long long startTicks = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22) startTicks = std::stoull(field);
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
    return nowMs - static_cast<double>(startTicks) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long long statusKib(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6));
    return 0;
}

// VmRSS of this process and all its descendants (the web and network
// processes of the page engine), in KiB, and how many processes that is.
std::pair<long long, int> treeRssKib() {
    std::multimap<long, std::string> children;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in("/proc/" + pid + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state;
        long ppid = 0;
        rest >> state >> ppid;
        children.emplace(ppid, pid);
    }
    long long kib = 0;
    int count = 0;
    std::vector<std::string> pending{std::to_string(platform::currentProcessId())};
    while (!pending.empty()) {
        const std::string pid = pending.back();
        pending.pop_back();
        kib += statusKib(pid);
        ++count;
        const auto range = children.equal_range(std::stol(pid));
        for (auto it = range.first; it != range.second; ++it) pending.push_back(it->second);
    }
    return {kib, count};
}

// The threads of this process now.
int threadCount() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

// UI thread: when (ms from process start) the window drew each of its frames.
std::vector<double>& drawTimes() {
    static std::vector<double> times;
    return times;
}

// The page's clock now and the moment it first put server tiles in (its
// "server-tiles" performance mark; -1 without one), both in page ms.
constexpr char kTilesMark[] =
    "const mark = performance.getEntriesByName('server-tiles', 'mark')[0];\n"
    "return [performance.now(), mark ? mark.startTime : -1];\n";

// The first frame the window drew after the page put the tiles in, in ms
// from process start; the page's clock is placed on ours by the moment this
// answer arrived, which puts the tiles a little late, never early.
std::optional<double> tilesDrawnMs(const nlohmann::json& clocks, double answeredMs) {
    if (!clocks.is_array() || clocks.size() != 2 || !clocks[0].is_number() || !clocks[1].is_number()) return std::nullopt;
    const double pageNow = clocks[0].get<double>();
    const double mark = clocks[1].get<double>();
    if (mark < 0) return std::nullopt;
    const double inserted = answeredMs - (pageNow - mark);
    for (const double drawn : drawTimes())
        if (drawn >= inserted) return drawn;
    return std::nullopt;
}

// Resolves to true once the page shows server tiles and has painted them
// (two animation frames later), false after 20 s without tiles.
constexpr char kUntilTilesPainted[] =
    "const hasTiles = () => document.querySelector('#server-list .server-tile') !== null;\n"
    "if (!hasTiles()) {\n"
    "  await new Promise((resolve) => {\n"
    "    const watch = new MutationObserver(() => { if (hasTiles()) { watch.disconnect(); resolve(); } });\n"
    "    watch.observe(document.documentElement, {childList: true, subtree: true});\n"
    "    setTimeout(() => { watch.disconnect(); resolve(); }, 20000);\n"
    "  });\n"
    "}\n"
    "await new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)));\n"
    "return hasTiles();\n";

struct HookRun {
    EngineWindow* window;
    LauncherTestHooks hooks;
    std::vector<std::string> steps;
    std::size_t next = 0;
};

void finish(const std::shared_ptr<HookRun>& run) {
    const auto [kib, processes] = treeRssKib();
    std::printf("test: rss-kib-after-steps %lld processes %d\n", kib, processes);
    const auto close = [run] {
        std::fflush(stdout);
        run->window->close();
    };
    if (run->hooks.snapshot.empty()) return close();
    run->window->saveSnapshotPng(run->hooks.snapshot, [run, close](bool ok) {
        std::printf("snapshot: %s\n", ok ? "written" : "failed");
        close();
    });
}

void runNextStep(const std::shared_ptr<HookRun>& run) {
    if (run->next >= run->steps.size()) return finish(run);
    const std::size_t number = ++run->next;
    const std::string& step = run->steps[number - 1];
    if (step.rfind("#threads", 0) == 0) {
        std::printf("step %zu: threads %d\n", number, threadCount());
        std::fflush(stdout);
        return runNextStep(run);
    }
    if (step.rfind("#keys ", 0) == 0) {
        std::istringstream names(step.substr(6));
        std::vector<std::string> keys;
        for (std::string key; names >> key;) keys.push_back(key);
        const bool sent = run->window->sendKeysForTest(keys);
        std::printf("step %zu: keys %s\n", number, sent ? "sent" : "failed");
        std::fflush(stdout);
        return runNextStep(run);
    }
    if (step.rfind("#snapshot ", 0) == 0) {
        std::string path = step.substr(10);
        while (!path.empty() && (path.back() == '\n' || path.back() == ' ')) path.pop_back();
        run->window->saveSnapshotPng(path, [run, number](bool ok) {
            std::printf("step %zu: snapshot %s\n", number, ok ? "written" : "failed");
            std::fflush(stdout);
            runNextStep(run);
        });
        return;
    }
    run->window->runScriptForTest(run->steps[number - 1],
                                  [run, number](bool ok, const nlohmann::json& result, const std::string& error) {
                                      if (ok)
                                          std::printf("step %zu: %s\n", number,
                                                      result.is_discarded() ? "undefined" : result.dump().c_str());
                                      else
                                          std::printf("step %zu failed: %s\n", number, error.c_str());
                                      std::fflush(stdout);
                                      runNextStep(run);
                                  });
}

// The start-up frame's file and line, written after the measurements.
std::function<void()>& pendingStartupFrame() {
    static std::function<void()> pending;
    return pending;
}

}  // namespace

LauncherTestHooks takeTestHooks(std::vector<std::string>& args) {
    LauncherTestHooks hooks;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--test-script" && i + 1 < args.size()) {
            hooks.script = args[++i];
        } else if (args[i] == "--test-snapshot" && i + 1 < args.size()) {
            hooks.snapshot = args[++i];
        } else if (args[i] == "--test-startup-frame" && i + 1 < args.size()) {
            hooks.startupFrame = args[++i];
        } else {
            rest.push_back(args[i]);
        }
    }
    args = std::move(rest);
    return hooks;
}

std::vector<std::string> splitTestSteps(const std::string& script) {
    std::vector<std::string> steps;
    std::string current;
    std::istringstream in(script);
    for (std::string line; std::getline(in, line);) {
        if (line == "---") {
            steps.push_back(std::move(current));
            current.clear();
        } else {
            current += line + "\n";
        }
    }
    if (current.find_first_not_of(" \t\r\n") != std::string::npos) steps.push_back(std::move(current));
    return steps;
}

void runTestHooks(EngineWindow& window, const LauncherTestHooks& hooks) {
    auto run = std::make_shared<HookRun>(HookRun{&window, hooks, {}, 0});
    if (!hooks.script.empty()) {
        std::ifstream in(hooks.script);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        run->steps = splitTestSteps(text);
    }
    // Two animation frames after load: the first painted frame of the page.
    window.runScriptForTest(
        "await new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)));",
        [run](bool, const nlohmann::json&, const std::string&) {
            std::printf("test: first-frame-ms %.0f\n", msSinceProcessStart());
            std::fflush(stdout);
            run->window->runScriptForTest(kUntilTilesPainted, [run](bool ok, const nlohmann::json& result,
                                                                    const std::string&) {
                if (ok && result == true)
                    std::printf("test: tiles-frame-ms %.0f\n", msSinceProcessStart());
                else
                    std::printf("test: tiles-frame-ms none\n");
                run->window->runScriptForTest(kTilesMark, [run](bool, const nlohmann::json& clocks, const std::string&) {
                    if (const auto drawn = tilesDrawnMs(clocks, msSinceProcessStart()))
                        std::printf("test: tiles-drawn-ms %.0f\n", *drawn);
                    else
                        std::printf("test: tiles-drawn-ms none\n");
                    const auto [kib, processes] = treeRssKib();
                    std::printf("test: rss-kib %lld processes %d\n", kib, processes);
                    std::fflush(stdout);
                    if (auto write = std::exchange(pendingStartupFrame(), {})) write();
                    runNextStep(run);
                });
            });
        });
}

void watchStartupFrame(EngineWindow& window, const LauncherTestHooks& hooks) {
    if (hooks.active()) window.setDrawObserver([] { drawTimes().push_back(msSinceProcessStart()); });
    if (hooks.startupFrame.empty()) return;
    window.setFirstFrameHandler([&window, file = hooks.startupFrame, measured = hooks.active()] {
        const double shownMs = msSinceProcessStart();
        auto pixels = std::make_shared<WindowPixels>(WindowPixels::grab(window.nativeWindow()));
        const double luminance = pixels->meanLuminance().value_or(-1);
        auto write = [pixels, file, luminance, shownMs] {
            const bool saved = pixels->savePng(file);
            std::printf("test: startup-frame-luminance %.0f ms %.0f%s\n", luminance, shownMs,
                        saved ? "" : " (not saved)");
            std::fflush(stdout);
        };
        // Encoding the file now would slow the start-up being measured: then
        // it is written once the tiles have been measured.
        if (measured)
            pendingStartupFrame() = std::move(write);
        else
            write();
    });
}

}  // namespace mendly
