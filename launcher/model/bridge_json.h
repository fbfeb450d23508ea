#pragma once
// What the native side hands the page: the JSON texts, the server tile HTML
// and the UI state, plus the conversions of the page's call arguments.
//
// Each builder reads the state at the moment of the call and keeps nothing;
// the tile HTML, the footer and the label probe the installation folders
// (isInstalled) on every call. UI thread only.
//
// JSON texts are compact UTF-8 (no spaces, non-ASCII characters unescaped)
// with object keys in alphabetical order; the engine hands them to the page
// as strings. Text that is not valid UTF-8 is written with U+FFFD instead of
// failing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/launcher_state.h"
#include "model/shortcuts.h"

namespace mendly {

inline constexpr char kEmptyServerListHtml[] = "<div class=\"server-empty\">No servers configured</div>";
inline constexpr char kTileIconUrl[] = "icon_48.png";

// {"busy","canPause","canPlay","installedVersion","paused","playLabel","problem","progressDone",
// "progressTotal","progressVisible","sizeText","taskStatus","transferText","versionState"}:
// installedVersion is the selected installation's own version ("" when none);
// problem the selected entry's ({"caption","detail","kind"}) or null;
// sizeText what follows the play label ("" while unknown); versionState what
// the selected-version text is ("known", "loading", "none", "unavailable").
std::string buildFooterStateJson(const LauncherState& state);

// {"servers":[{desc, installPath (only when set), launchExecutable, name,
// patchBaseUrl, server}...]}: the raw fields, desc possibly empty.
std::string buildServersJson(const LauncherState& state);

// [{exec, index, name, type}...]; "[]" without shortcuts.
std::string buildShortcutsJson(const std::vector<Shortcut>& shortcuts);

// One tile per catalog entry, without line breaks or separators; the
// empty-list text when the catalog is empty. An entry with a problem carries
// the mark <span class="tile-status problem" title="CAPTION">!</span> in
// place of the status mark and <div class="tile-problem">CAPTION</div> after
// its name. An entry partly downloaded (LauncherState::partlyDownloadedBytes)
// carries data-partial="1" and, when it has no problem, <div
// class="tile-state">Partly downloaded (N MB)</div> after its name.
std::string buildServerListHtml(const LauncherState& state);

// A double quote, ampersand and less-than sign as "&quot;", "&amp;", "&lt;";
// every other byte unchanged (">" and "'" included).
std::string escapeHtmlAttribute(std::string_view text);

// The page's UI state, keys in this order: servers [{name, desc (display
// name), index, selected}], selected, busy, taskStatus, progressDone,
// progressTotal, progressVisible, canPlay, playLabel, iconUrl.
nlohmann::ordered_json buildUiState(const LauncherState& state);

// Argument conversions of the page's calls. A number that does not fit a
// signed 32-bit value (or is not a number at all, NaN) names no index.
//
// selectServer: a number truncated toward zero; a number out of range gives
// -1 (nothing selected); any other value counts as 0.
std::int32_t selectServerIndex(const nlohmann::json& value);
// launchShortcut: a number truncated toward zero; anything else -1.
std::int32_t shortcutIndex(const nlohmann::json& value);
// setLanguage: a string as it is; anything else the empty text.
std::string languageCode(const nlohmann::json& value);
// openUrl: a non-empty string as UTF-16; anything else nothing (the call
// returns false).
std::optional<std::u16string> urlArgument(const nlohmann::json& value);

// A compact dump that never throws: invalid UTF-8 becomes U+FFFD.
std::string compactJson(const nlohmann::json& value);

}  // namespace mendly
