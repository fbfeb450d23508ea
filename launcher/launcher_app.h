#pragma once
// The launcher's start-up, main window and teardown, and the process-wide
// model object. Everything here runs on the UI thread (the thread of main);
// background threads only post the messages of launcher_app_messages.h.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/server_catalog.h"
#include "post_channel.h"

namespace mendly {

class EngineWindow;

// The launcher's whole state. Read and written on the UI thread only; workers
// get copies of what they need.
struct LauncherState {
    EngineWindow* window = nullptr;  // set once the window is shown; null again at teardown
    ServerCatalog catalog;
    std::size_t builtInCount = 0;
    std::filesystem::path programFolder;
    std::int32_t selected = 0;  // index into catalog.entries; -1 when the catalog is empty
    bool busy = false;
    bool launchAfterTask = false;
    std::u16string taskStatus;
    std::int32_t progressDone = 0;
    std::int32_t progressTotal = 0;
    std::u16string selectedVersion;
    std::vector<std::int32_t> entryStatuses;  // per catalog index: 0 undetermined, 1 up to date, 2 out of date
    std::int32_t checkGeneration = 0;

    bool selectionValid() const {
        return selected >= 0 && static_cast<std::size_t>(selected) < catalog.entries.size();
    }
};

inline constexpr char16_t kLauncherCaption[] = u"Launcher";
inline constexpr char16_t kLauncherPageUrl[] = u"this://app/main.htm";

// The page archive compiled into the program.
std::string_view embeddedPageArchive();

// The non-window part of start-up: program folder, log, self-update, catalog.
// False when start-up has to stop (the user has been told why). Ends the
// process with exit code 0 when the self-update has handed over to keelswap.
[[nodiscard]] bool initLauncherState(LauncherState& state);

// Start-up, the main loop and teardown over the page archive `pageArchive`.
// Returns 1 when start-up failed, else 0 after the window was closed.
int runLauncher(LauncherState& state, std::string_view pageArchive);

// The private message dispatch of the main window (UI thread). Every message
// of the table is handled and its payload freed; other numbers are ignored.
void dispatchLauncherMessage(LauncherState& state, EngineWindow& window, const PostedMessage& message);

}  // namespace mendly
