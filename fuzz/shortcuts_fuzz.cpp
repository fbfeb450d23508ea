// parseShortcuts on arbitrary bytes, then the two things the launcher does
// with the list: the page's shortcuts JSON and starting a shortcut. Nothing
// may crash, hang or throw; every shortcut kept has a name and something to
// start; the JSON handed to the page is always valid and lists the shortcuts
// in order; a start goes to exactly one opener call with the shortcut's text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "log/text.h"
#include "model/bridge_json.h"
#include "model/shortcuts.h"

namespace {

using namespace mendly;

// Answers every request with `accept` and counts them; starts nothing.
class CountingOpener : public ShellOpener {
public:
    bool accept = true;
    int uris = 0;
    int paths = 0;
    int spawns = 0;
    std::u16string last;

    bool openUri(std::u16string_view uri) override {
        ++uris;
        last = uri;
        return accept;
    }
    bool openPath(const std::filesystem::path& path) override {
        ++paths;
        last = path.u16string();
        return accept;
    }
    bool spawnProgram(const std::filesystem::path& program, const std::vector<std::u16string>& args,
                      const std::filesystem::path&) override {
        if (!args.empty()) std::abort();  // exec is one file name, never a command line
        ++spawns;
        last = program.u16string();
        return accept;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<Shortcut> shortcuts = parseShortcuts(text);

    const auto root = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
    if (!shortcuts.empty()) {
        // Only a valid document with a "shortcuts" array yields anything, and at
        // most one shortcut per element.
        if (root.is_discarded() || !root.is_object() || !root.contains("shortcuts")) std::abort();
        if (shortcuts.size() > root["shortcuts"].size()) std::abort();
    }

    const auto json = nlohmann::json::parse(buildShortcutsJson(shortcuts), nullptr, false);
    if (!json.is_array() || json.size() != shortcuts.size()) std::abort();
    for (std::size_t i = 0; i < shortcuts.size(); ++i) {
        const Shortcut& s = shortcuts[i];
        if (s.name.empty() || s.exec.empty()) std::abort();
        if (json[i]["index"] != i || json[i]["type"] != shortcutKindName(s.kind)) std::abort();
        // The page gets the texts unchanged (they came from parsed JSON, so valid UTF-8).
        if (json[i]["name"] != s.name || json[i]["exec"] != s.exec) std::abort();

        CountingOpener opener;
        opener.accept = (i % 2) == 0;
        const ShortcutLaunch launch = runShortcut(opener, s);
        if (opener.uris + opener.paths + opener.spawns != 1) std::abort();
        if (s.kind == ShortcutKind::Webpage) {
            if (opener.uris != 1 || launch.result != opener.accept || launch.warning) std::abort();
            if (opener.last != toWide(s.exec)) std::abort();
        } else {
            if (opener.uris != 0 || !launch.result || launch.warning.has_value() == opener.accept) std::abort();
        }
    }
    return 0;
}
