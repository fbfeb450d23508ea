#pragma once
// shortcuts.json beside the launcher: programs and web pages the page offers
// in its "Shortcuts" menu. Read once at start-up and never reloaded.
//
// Everything here runs on the UI thread. The actual opening goes through a
// ShellOpener that the engine layer provides (GIO for addresses, documents
// and folders; a direct spawn for programs), so the decisions can be tested
// without a desktop.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/notice.h"

namespace mendly {

enum class ShortcutKind : std::int32_t { Program = 0, Webpage = 1 };

struct Shortcut {
    std::string name;  // menu text, UTF-8, never empty
    ShortcutKind kind = ShortcutKind::Program;
    std::string exec;  // program path or web address, UTF-8, never empty

    bool operator==(const Shortcut&) const = default;
};

// "Program" or "Webpage", the names the page sees.
std::string_view shortcutKindName(ShortcutKind kind);

// The shortcuts of a shortcuts.json text, in file order. A text that is not
// valid JSON, or whose root is not an object with a "shortcuts" array, gives
// no shortcuts at all; elements without a string "name" or without a string
// "exec"/"url" are skipped.
std::vector<Shortcut> parseShortcuts(std::string_view text);

// parseShortcuts of programFolder/shortcuts.json; no shortcuts when the file
// is missing or unreadable. Logs and shows nothing.
std::vector<Shortcut> loadShortcuts(const std::filesystem::path& programFolder);

// How the desktop starts things. Implementations are called on the UI thread
// and must not block on the started program. Each returns whether the system
// accepted the request.
class ShellOpener {
public:
    virtual ~ShellOpener() = default;
    // A web address (or any URI) in the user's default handler.
    virtual bool openUri(std::u16string_view uri) = 0;
    // A document or folder in its default application.
    virtual bool openPath(const std::filesystem::path& path) = 0;
    // A program file, started directly with `args` in `workingFolder` (empty:
    // the launcher's current folder), not waited for.
    virtual bool spawnProgram(const std::filesystem::path& program, const std::vector<std::u16string>& args,
                              const std::filesystem::path& workingFolder) = 0;
    // True when `program` can only be started through wine here and wine is
    // not installed (spawnProgram would fail for that reason).
    virtual bool lacksWineFor(const std::filesystem::path& program) {
        (void)program;
        return false;
    }
};

// The folder a Program shortcut starts in: the text of `target` before its
// last "\" or "/", or nothing when there is no separator or nothing before it.
std::optional<std::filesystem::path> shortcutWorkingFolder(std::u16string_view target);

struct ShortcutLaunch {
    bool result = false;            // what the page's launchShortcut call returns
    std::optional<Notice> warning;  // to be shown by the caller (caption "Shortcuts")
};

// Starts one shortcut. A Webpage goes to openUri; its failure shows nothing and
// returns false. A Program that is an executable file, or names a Windows
// program (".exe"), is spawned in its working folder; anything else (a
// document, a folder) is opened with openPath. A Program the system refuses
// gives the warning "Could not start:" + line break + target; the result is
// still true. An empty exec returns false without asking the shell.
ShortcutLaunch runShortcut(ShellOpener& opener, const Shortcut& shortcut);

}  // namespace mendly
