#include "bridge/script_bridge.h"

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
    const auto arg = [&args](std::size_t i) -> const nlohmann::json& { return args.at(i); };
    LauncherState* const state = state_;

    if (count == 0) {
        if (name == "getUiState") {
            answer(state ? nlohmann::json(buildUiState(*state)) : undefinedAnswer());
        } else if (name == "getServersJson") {
            answer(state ? nlohmann::json(buildServersJson(*state)) : undefinedAnswer());
        } else if (name == "getSelectedServerHeader") {
            answer(text(state ? state->selectedServerHeader() : std::u16string(kVersionNone)));
        } else if (name == "getServerListHtml") {
            answer(state ? buildServerListHtml(*state) : std::string(kEmptyServerListHtml));
        } else if (name == "getLanguage") {
            answer(state ? state->readLanguage() : std::string(kDefaultLanguage));
        } else if (name == "getSelectedServerVersion") {
            answer(text(state ? state->selectedVersion : std::u16string(kVersionNone)));
        } else if (name == "getFooterStateJson") {
            answer(state ? buildFooterStateJson(*state) : std::string("{}"));
        } else if (name == "getPlayButtonLabel") {
            answer(text(state ? state->playButtonLabel() : std::u16string(u"Install")));
        } else if (name == "getDownloadSettings") {
            answer(state ? downloadSettingsJson(*state) : std::string("{}"));
        } else if (name == "getShortcutsJson") {
            answer(state ? buildShortcutsJson(state->shortcuts) : std::string("[]"));
        } else if (name == "launcher.play" || name == "launcher.reinstall") {
            // The script object's task methods: the answer says whether the
            // window has a state.
            (void)runTaskAction(state, host_, name.substr(std::string_view("launcher.").size()));
            answer(state != nullptr);
        } else if (auto result = runTaskAction(state, host_, name)) {
            answer(*result);
        } else {
            return false;
        }
        return true;
    }

    if (count == 1) {
        if (name == "selectServer") {
            if (state) {
                (void)selectEntry(*state, host_, selectServerIndex(arg(0)));
                refreshPage(state, host_);  // also after a refused selection
            }
            answer(true);
        } else if (name == "launchShortcut") {
            if (!state) {
                answer(false);
                return true;
            }
            ShortcutLaunch launch = state->launchShortcut(shortcutIndex(arg(0)), opener_);
            if (launch.warning) host_.showNotice(*launch.warning);
            answer(launch.result);
        } else if (name == "setLanguage") {
            if (!state) {
                answer(false);
                return true;
            }
            if (auto failure = state->writeLanguage(languageCode(arg(0)))) host_.showNotice(*failure);
            answer(true);
        } else if (name == "setDownloadLimit") {
            // A text (a number is taken as bytes per second); the answer
            // says what is set now and why a text was refused.
            const nlohmann::json& value = arg(0);
            const std::string limit = value.is_string()            ? value.get<std::string>()
                                      : value.is_number_unsigned() ? std::to_string(value.get<std::uint64_t>())
                                                                   : std::string("?");
            answer(state ? setDownloadLimit(*state, limit) : std::string("{\"ok\":false}"));
        } else if (name == "launcher.asset_url") {
            answer(state ? launcherAssetUrl(state->programFolder, arg(0)) : std::string());
        } else if (name == "launcher.select_server") {
            // An integer index (0 for anything else); no page refresh here.
            if (state) {
                const nlohmann::json& value = arg(0);
                std::int64_t index = value.is_number_integer() ? value.get<std::int64_t>() : 0;
                if (index < INT32_MIN || index > INT32_MAX) index = -1;  // names no entry
                (void)selectEntry(*state, host_, static_cast<std::int32_t>(index));
            }
            answer(state != nullptr);
        } else if (name == "addServer") {
            // {name, address, key, folder}: checked against its host before it
            // is saved; answered later (add_server_action.h).
            if (state)
                addServerFromPage(*state, host_, arg(0), answer, &patchAddressProblem);
            else
                answer(false);
        } else if (name == "openUrl") {
            const auto url = urlArgument(arg(0));
            answer(url && isWebAddress(*url) && opener_.openUri(*url));
        } else {
            return false;
        }
        return true;
    }

    if (count == 2 && name == "fetchRssFeed") {
        fetchFeedDetached(host_, arg(0), arg(1), answer);
        return true;
    }
    return false;
}

}  // namespace mendly
