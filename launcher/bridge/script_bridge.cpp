#include "bridge/script_bridge.h"

#include <array>
#include <chrono>
#include <climits>
#include <cstdint>

#include <string_view>
#include <utility>
#include <vector>

#include "bridge/page_refresh.h"
#include "bridge/task_actions.h"
#include "checks/background_checks.h"
#include "log/text.h"
#include "model/bridge_json.h"
#include "model/language.h"
#include "model/news_feed.h"
#include "model/server_version.h"
#include "patch/patch_address_check.h"
#include "tasks/add_server_action.h"
#include "tasks/pause_tasks.h"

namespace mendly {
namespace {

nlohmann::json text(const std::u16string& value) { return toUtf8(value); }

constexpr std::size_t kMaxAssetPathNesting = 64;

// Whether `value` nests arrays and objects no deeper than `limit` levels;
// walks the value without recursion.
bool nestingDepthAtMost(const nlohmann::json& value, std::size_t limit) {
    std::vector<std::pair<const nlohmann::json*, std::size_t>> pending{{&value, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (!node->is_structured()) continue;
        if (depth >= limit) return false;
        for (const auto& child : *node) pending.emplace_back(&child, depth + 1);
    }
    return true;
}

// The value that reaches the page as undefined.
nlohmann::json undefinedAnswer() { return nlohmann::json(nlohmann::json::value_t::discarded); }

nlohmann::json feedFailure(std::u16string_view error) {
    nlohmann::ordered_json feed = nlohmann::ordered_json::object();
    feed["error"] = toUtf8(error);
    feed["items"] = nlohmann::ordered_json::array();
    return nlohmann::json(feed);
}

// The download must not hold up the window: a worker of the host's pool gets
// copies of the arguments, and the answer is given back on the UI thread. The
// deadline runs from the page's call, so time spent waiting for a worker
// counts. A second call for a feed (address and item count) that is still
// being fetched shares its download.
void fetchFeedDetached(PageHost& host, const nlohmann::json& url, const nlohmann::json& maximum,
                       const ScriptBridge::Answer& answer) {
    if (!url.is_string()) {
        answer(nlohmann::json(fetchRssFeed(url, maximum)));  // refused before any download
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kFeedDeadline;
    const std::string key = url.get<std::string>() + '\n' + std::to_string(feedItemLimit(maximum));
    const auto started = host.runDetached(
        key, [url, maximum, deadline] { return nlohmann::json(fetchRssFeed(url, maximum, deadline)); },
        [answer](nlohmann::json feed) { answer(feed); });
    if (started == PageHost::DetachedStart::Busy) answer(feedFailure(kFeedsBusy));
    if (started == PageHost::DetachedStart::NoThread) answer(feedFailure(kFeedsWithoutThread));
}

// One call from the page: the bridge's state (null in a frame without one),
// host and opener, the arguments (an array of `arguments` values) and where
// the answer goes.
struct PageCall {
    LauncherState* state;
    PageHost& host;
    ShellOpener& opener;
    const nlohmann::json& args;
    const ScriptBridge::Answer& answer;

    const nlohmann::json& arg(std::size_t i) const { return args.at(i); }
};

// A native function of the page: its name, how many arguments it takes and
// what it does. Each handler answers exactly once, now or later.
struct PageFunction {
    std::string_view name;
    std::size_t arguments;
    void (*handle)(const PageCall& call);
};

void answerSelectServer(const PageCall& call) {
    if (call.state) {
        (void)selectEntry(*call.state, call.host, selectServerIndex(call.arg(0)));
        refreshPage(call.state, call.host);  // also after a refused selection
    }
    call.answer(true);
}

void answerLaunchShortcut(const PageCall& call) {
    if (!call.state) {
        call.answer(false);
        return;
    }
    ShortcutLaunch launch = call.state->launchShortcut(shortcutIndex(call.arg(0)), call.opener);
    if (launch.warning) call.host.showNotice(*launch.warning);
    call.answer(launch.result);
}

void answerSetLanguage(const PageCall& call) {
    if (!call.state) {
        call.answer(false);
        return;
    }
    if (auto failure = call.state->writeLanguage(languageCode(call.arg(0)))) call.host.showNotice(*failure);
    call.answer(true);
}

// A text (a number is taken as bytes per second); the answer says what is
// set now and why a text was refused.
void answerSetDownloadLimit(const PageCall& call) {
    const nlohmann::json& value = call.arg(0);
    const std::string limit = value.is_string()            ? value.get<std::string>()
                              : value.is_number_unsigned() ? std::to_string(value.get<std::uint64_t>())
                                                           : std::string("?");
    call.answer(call.state ? setDownloadLimit(*call.state, limit) : std::string("{\"ok\":false}"));
}

// An integer index (0 for anything else); no page refresh here.
void answerScriptSelectServer(const PageCall& call) {
    if (call.state) {
        const nlohmann::json& value = call.arg(0);
        std::int64_t index = value.is_number_integer() ? value.get<std::int64_t>() : 0;
        if (index < INT32_MIN || index > INT32_MAX) index = -1;  // names no entry
        (void)selectEntry(*call.state, call.host, static_cast<std::int32_t>(index));
    }
    call.answer(call.state != nullptr);
}

// The script object's task methods: the answer says whether the window has a
// state.
void answerScriptTask(const PageCall& call, std::string_view action) {
    (void)runTaskAction(call.state, call.host, std::string(action));
    call.answer(call.state != nullptr);
}

constexpr std::array<PageFunction, 21> kPageFunctions = {{
    {"getUiState", 0,
     [](const PageCall& c) { c.answer(c.state ? nlohmann::json(buildUiState(*c.state)) : undefinedAnswer()); }},
    {"getServersJson", 0,
     [](const PageCall& c) { c.answer(c.state ? nlohmann::json(buildServersJson(*c.state)) : undefinedAnswer()); }},
    {"getSelectedServerHeader", 0,
     [](const PageCall& c) {
         c.answer(text(c.state ? c.state->selectedServerHeader() : std::u16string(kVersionNone)));
     }},
    {"getServerListHtml", 0,
     [](const PageCall& c) {
         c.answer(c.state ? buildServerListHtml(*c.state) : std::string(kEmptyServerListHtml));
     }},
    {"getLanguage", 0,
     [](const PageCall& c) { c.answer(c.state ? c.state->readLanguage() : std::string(kDefaultLanguage)); }},
    {"getSelectedServerVersion", 0,
     [](const PageCall& c) { c.answer(text(c.state ? c.state->selectedVersion : std::u16string(kVersionNone))); }},
    {"getFooterStateJson", 0,
     [](const PageCall& c) { c.answer(c.state ? buildFooterStateJson(*c.state) : std::string("{}")); }},
    {"getPlayButtonLabel", 0,
     [](const PageCall& c) { c.answer(text(c.state ? c.state->playButtonLabel() : std::u16string(u"Install"))); }},
    {"getDownloadSettings", 0,
     [](const PageCall& c) { c.answer(c.state ? downloadSettingsJson(*c.state) : std::string("{}")); }},
    {"getShortcutsJson", 0,
     [](const PageCall& c) { c.answer(c.state ? buildShortcutsJson(c.state->shortcuts) : std::string("[]")); }},
    {"launcher.play", 0, [](const PageCall& c) { answerScriptTask(c, "play"); }},
    {"launcher.reinstall", 0, [](const PageCall& c) { answerScriptTask(c, "reinstall"); }},
    {"selectServer", 1, &answerSelectServer},
    {"launchShortcut", 1, &answerLaunchShortcut},
    {"setLanguage", 1, &answerSetLanguage},
    {"setDownloadLimit", 1, &answerSetDownloadLimit},
    {"launcher.asset_url", 1,
     [](const PageCall& c) {
         c.answer(c.state ? launcherAssetUrl(c.state->programFolder, c.arg(0)) : std::string());
     }},
    {"launcher.select_server", 1, &answerScriptSelectServer},
    // {name, address, key, folder} or {file, folder}: checked against its
    // host before it is saved; answered later (add_server_action.h).
    {"addServer", 1,
     [](const PageCall& c) {
         if (c.state)
             addServerFromPage(*c.state, c.host, c.arg(0), c.answer, &patchAddressProblem);
         else
             c.answer(false);
     }},
    {"openUrl", 1,
     [](const PageCall& c) {
         const auto url = urlArgument(c.arg(0));
         c.answer(url && isWebAddress(*url) && c.opener.openUri(*url));
     }},
    {"fetchRssFeed", 2, [](const PageCall& c) { fetchFeedDetached(c.host, c.arg(0), c.arg(1), c.answer); }},
}};

}  // namespace

bool isWebAddress(std::u16string_view url) {
    const auto schemeEnd = url.find(u"://");
    if (schemeEnd == std::u16string_view::npos || schemeEnd + 3 >= url.size()) return false;
    const auto scheme = url.substr(0, schemeEnd);
    return equalsIgnoreAsciiCase(scheme, u"http") || equalsIgnoreAsciiCase(scheme, u"https");
}

std::string launcherAssetUrl(const std::filesystem::path& programFolder, const nlohmann::json& path) {
    // Writing a value out recurses once per nesting level: a value nested
    // deeper than any page would send is taken as no path at all.
    std::string text;
    if (path.is_string())
        text = path.get<std::string>();
    else if (nestingDepthAtMost(path, kMaxAssetPathNesting))
        text = path.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string url = programFolder.string() + "/" + text;
    for (auto& c : url)
        if (c == '\\') c = '/';
    // A POSIX folder already starts with '/', which completes "file://".
    return (url.rfind('/', 0) == 0 ? "file://" : "file:///") + url;
}

bool ScriptBridge::dispatch(const std::string& name, const nlohmann::json& args, const Answer& answer) {
    const std::size_t count = args.is_array() ? args.size() : 0;
    for (const PageFunction& function : kPageFunctions) {
        if (function.arguments != count || function.name != name) continue;
        function.handle(PageCall{state_, host_, opener_, args, answer});
        return true;
    }
    // The task actions of the page (task_actions.h) take no arguments.
    if (count == 0) {
        if (auto result = runTaskAction(state_, host_, name)) {
            answer(*result);
            return true;
        }
    }
    return false;
}

}  // namespace mendly
