#include "model/shortcuts.h"

#include <nlohmann/json.hpp>

#include "catalog/file_bytes.h"
#include "log/text.h"

namespace mendly {
namespace {

bool isWebpageType(std::string_view type) {
    return equalsIgnoreAsciiCase(type, "Webpage") || equalsIgnoreAsciiCase(type, "Web") ||
           equalsIgnoreAsciiCase(type, "URL");
}

// The string held by object[key], or nothing when absent or not a string.
const std::string* stringMember(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return nullptr;
    return found->get_ptr<const std::string*>();
}

bool endsWithExe(std::u16string_view target) {
    return target.size() >= 4 && equalsIgnoreAsciiCase(target.substr(target.size() - 4), u".exe");
}

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::is_regular_file(status)) return false;
    using std::filesystem::perms;
    return (status.permissions() & (perms::owner_exec | perms::group_exec | perms::others_exec)) != perms::none;
}

}  // namespace

std::string_view shortcutKindName(ShortcutKind kind) {
    return kind == ShortcutKind::Webpage ? "Webpage" : "Program";
}

std::vector<Shortcut> parseShortcuts(std::string_view text) {
    std::vector<Shortcut> shortcuts;
    try {
        const auto root = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
        if (!root.is_object()) return {};
        const auto list = root.find("shortcuts");
        if (list == root.end() || !list->is_array()) return {};
        for (const auto& element : *list) {
            if (!element.is_object()) continue;
            const auto* name = stringMember(element, "name");
            if (!name) continue;
            std::string_view type = "Program";
            if (const auto* given = stringMember(element, "type")) type = *given;
            auto kind = isWebpageType(type) ? ShortcutKind::Webpage : ShortcutKind::Program;
            std::string exec;
            if (const auto* program = stringMember(element, "exec")) {
                exec = *program;
            } else if (const auto* url = stringMember(element, "url")) {
                exec = *url;
                kind = ShortcutKind::Webpage;
            }
            if (name->empty() || exec.empty()) continue;
            shortcuts.push_back({*name, kind, std::move(exec)});
        }
    } catch (const nlohmann::json::exception&) {
        return {};
    }
    return shortcuts;
}

std::vector<Shortcut> loadShortcuts(const std::filesystem::path& programFolder) {
    std::string bytes;
    if (readFileBytes(programFolder / "shortcuts.json", bytes) != FileRead::Read) return {};
    return parseShortcuts(bytes);
}

std::optional<std::filesystem::path> shortcutWorkingFolder(std::u16string_view target) {
    const auto cut = target.find_last_of(u"\\/");
    if (cut == std::u16string_view::npos || cut == 0) return std::nullopt;
    return std::filesystem::path(std::u16string(target.substr(0, cut)));
}

ShortcutLaunch runShortcut(ShellOpener& opener, const Shortcut& shortcut) {
    const auto target = toWide(shortcut.exec);
    if (target.empty()) return {};
    if (shortcut.kind == ShortcutKind::Webpage) return {opener.openUri(target), std::nullopt};

    const std::filesystem::path program(target);
    bool started = false;
    if (isExecutableFile(program) || endsWithExe(target)) {
        started = opener.spawnProgram(program, {}, shortcutWorkingFolder(target).value_or(std::filesystem::path()));
    } else {
        started = opener.openPath(program);
    }
    ShortcutLaunch launch{true, std::nullopt};
    if (!started) launch.warning = Notice{u"Could not start:\n" + target, u"Shortcuts", NoticeIcon::Warning};
    return launch;
}

}  // namespace mendly
