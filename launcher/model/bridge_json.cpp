#include "model/bridge_json.h"

#include <cmath>

#include "catalog/install_layout.h"
#include "catalog/server_list.h"
#include "log/text.h"
#include "model/server_version.h"
#include "patch/partly_downloaded.h"

namespace mendly {
namespace {

// A page number as a signed 32-bit index: integers unchanged, floating-point
// numbers truncated toward zero; nothing when it does not fit.
std::optional<std::int32_t> truncatedIndex(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n > static_cast<std::uint64_t>(INT32_MAX)) return std::nullopt;
        return static_cast<std::int32_t>(n);
    }
    if (value.is_number_integer()) {
        const auto n = value.get<std::int64_t>();
        if (n < INT32_MIN || n > INT32_MAX) return std::nullopt;
        return static_cast<std::int32_t>(n);
    }
    const double d = std::trunc(value.get<double>());
    if (std::isnan(d) || d < static_cast<double>(INT32_MIN) || d > static_cast<double>(INT32_MAX))
        return std::nullopt;
    return static_cast<std::int32_t>(d);
}

std::string utf8(std::u16string_view text) {
    return toUtf8(text);
}

nlohmann::json problemJson(const EntryProblem* problem) {
    if (problem == nullptr) return nullptr;
    nlohmann::json json = nlohmann::json::object();
    json["caption"] = utf8(problem->caption);
    json["detail"] = utf8(problem->detail);
    json["kind"] = problemKindName(problem->kind);
    return json;
}

// The tile's mark: a problem outranks the up-to-date and out-of-date marks,
// which only installed entries carry.
std::string tileMark(const LauncherState& state, std::size_t index, bool installed) {
    if (const auto* problem = state.problemOf(index))
        return "<span class=\"tile-status problem\" title=\"" + escapeHtmlAttribute(utf8(problem->caption)) +
               "\">!</span>";
    if (!installed) return {};
    const auto status = state.entryStatus(index);
    if (status == kStatusUpToDate) return "<span class=\"tile-status current\" title=\"Up to date\">&#10003;</span>";
    if (status == kStatusOutOfDate) return "<span class=\"tile-status outdated\" title=\"Out of date\">&#9888;</span>";
    return {};
}

}  // namespace

std::string compactJson(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string buildFooterStateJson(const LauncherState& state) {
    nlohmann::json footer = nlohmann::json::object();
    footer["busy"] = state.busy;
    footer["canPause"] = state.canPause();
    footer["canPlay"] = state.canPlay();
    footer["installedVersion"] = utf8(state.installedVersionText());
    footer["paused"] = !state.busy && state.pausedSelected() != nullptr;
    footer["playLabel"] = utf8(state.playButtonLabel());
    footer["problem"] = problemJson(state.selectedProblem());
    footer["progressDone"] = state.progressDone;
    footer["progressTotal"] = state.progressTotal;
    footer["progressVisible"] = state.progressVisible();
    footer["sizeText"] = utf8(state.sizeText);
    footer["taskStatus"] = utf8(state.taskStatus);
    footer["transferText"] = utf8(state.transferText());
    footer["versionState"] = versionShownName(state.selectedVersionShown);
    return compactJson(footer);
}

std::string buildServersJson(const LauncherState& state) {
    nlohmann::json servers = nlohmann::json::array();
    // The customlist.json form of an entry has exactly these keys, desc raw.
    for (const auto& entry : state.catalog.entries) servers.push_back(serverEntryToJson(entry));
    nlohmann::json document = nlohmann::json::object();
    document["servers"] = std::move(servers);
    return compactJson(document);
}

std::string buildShortcutsJson(const std::vector<Shortcut>& shortcuts) {
    nlohmann::json list = nlohmann::json::array();
    for (std::size_t i = 0; i < shortcuts.size(); ++i) {
        nlohmann::json item = nlohmann::json::object();
        item["exec"] = shortcuts[i].exec;
        item["index"] = i;
        item["name"] = shortcuts[i].name;
        item["type"] = shortcutKindName(shortcuts[i].kind);
        list.push_back(std::move(item));
    }
    return compactJson(list);
}

std::string escapeHtmlAttribute(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '"': out += "&quot;"; break;
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            default: out += c; break;
        }
    }
    return out;
}

std::string buildServerListHtml(const LauncherState& state) {
    if (state.catalog.entries.empty()) return kEmptyServerListHtml;
    std::string html;
    for (std::size_t i = 0; i < state.catalog.entries.size(); ++i) {
        const auto& entry = state.catalog.entries[i];
        const bool installed = state.isEntryInstalled(entry);
        const std::uint64_t partial = installed ? 0 : state.partlyDownloadedBytes(entry);
        const auto desc = escapeHtmlAttribute(displayName(entry));
        html += "<div class=\"server-tile";
        if (state.selected >= 0 && static_cast<std::size_t>(state.selected) == i) html += " selected";
        html += "\" data-index=\"" + std::to_string(i);
        html += "\" data-name=\"" + escapeHtmlAttribute(entry.name);
        html += "\" data-desc=\"" + desc;
        html += i < state.builtInCount ? "\" data-custom=\"0" : "\" data-custom=\"1";
        html += installed ? "\" data-installed=\"1" : "\" data-installed=\"0";
        html += partial > 0 ? "\" data-partial=\"1\">" : "\">";
        html += tileMark(state, i, installed);
        html += "<img src=\"icon_48.png\" alt=\"\" /><div class=\"server-name\">" + desc + "</div>";
        if (const auto* problem = state.problemOf(i))
            html += "<div class=\"tile-problem\">" + escapeHtmlAttribute(utf8(problem->caption)) + "</div>";
        else if (partial > 0)
            html += "<div class=\"tile-state\">" + utf8(partlyDownloadedText(partial)) + "</div>";
        html += "</div>";
    }
    return html;
}

nlohmann::ordered_json buildUiState(const LauncherState& state) {
    nlohmann::ordered_json servers = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < state.catalog.entries.size(); ++i) {
        const auto& entry = state.catalog.entries[i];
        nlohmann::ordered_json tile = nlohmann::ordered_json::object();
        tile["name"] = toUtf8(toWide(entry.name));
        tile["desc"] = toUtf8(toWide(displayName(entry)));
        tile["index"] = static_cast<std::int32_t>(i);
        tile["selected"] = state.selected >= 0 && static_cast<std::size_t>(state.selected) == i;
        servers.push_back(std::move(tile));
    }
    nlohmann::ordered_json ui = nlohmann::ordered_json::object();
    ui["servers"] = std::move(servers);
    ui["selected"] = state.selected;
    ui["busy"] = state.busy;
    ui["taskStatus"] = utf8(state.taskStatus);
    ui["progressDone"] = state.progressDone;
    ui["progressTotal"] = state.progressTotal;
    ui["progressVisible"] = state.progressVisible();
    ui["canPlay"] = state.canPlay();
    ui["playLabel"] = utf8(state.playButtonLabel());
    ui["iconUrl"] = kTileIconUrl;
    return ui;
}

std::int32_t selectServerIndex(const nlohmann::json& value) {
    if (!value.is_number()) return 0;
    return truncatedIndex(value).value_or(-1);
}

std::int32_t shortcutIndex(const nlohmann::json& value) {
    if (!value.is_number()) return -1;
    return truncatedIndex(value).value_or(-1);
}

std::string languageCode(const nlohmann::json& value) {
    return value.is_string() ? value.get<std::string>() : std::string();
}

std::optional<std::u16string> urlArgument(const nlohmann::json& value) {
    if (!value.is_string()) return std::nullopt;
    auto url = toWide(value.get_ref<const std::string&>());
    if (url.empty()) return std::nullopt;
    return url;
}

}  // namespace mendly
