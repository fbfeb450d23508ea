#include "tasks/game_launch.h"

#include <system_error>

#include "bridge/launcher_messages.h"
#include "catalog/entry_confinement.h"
#include "log/log_file.h"
#include "log/text.h"
#include "model/game_executable.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;

void reportNotFound(PageHost& host, std::u16string_view logPrefix, const std::u16string& expected,
                    std::u16string_view caption) {
    LogFile::write(std::u16string(logPrefix) + expected);
    host.showNotice({u"Game executable not found:\n" + expected, std::u16string(caption), NoticeIcon::Warning});
}

// The game is a Windows program: without wine it cannot start, and the player
// is told what to install rather than only that it did not start. True when
// that was the case (and it has been reported).
bool reportMissingWine(PageHost& host, const fs::path& exe, std::u16string_view logPrefix,
                       std::u16string_view caption) {
    if (!host.shell().lacksWineFor(exe)) return false;
    LogFile::write(std::u16string(logPrefix) + exe.u16string() + u" \u2014 wine is not installed");
    host.showNotice({std::u16string(kWineNeededText), std::u16string(caption), NoticeIcon::Warning});
    return true;
}

// True when `entry` points outside its folders (entry_confinement.h): logged,
// and the player told, and nothing is opened, made or started for it.
bool refuseEscapingEntry(const LauncherState& state, PageHost& host, const ServerEntry& entry,
                         std::u16string_view caption) {
    const std::u16string problem = entryEscapeProblem(state.programFolder, entry);
    if (problem.empty()) return false;
    LogFile::write(u"ERROR: Refusing to use catalog entry \"" + toWide(entry.name) + u"\": " + problem);
    host.showNotice({u"This server entry points outside its folder, so it is not used.", std::u16string(caption),
                     NoticeIcon::Warning});
    return true;
}

}  // namespace

void createInstallFolders(const fs::path& programFolder, const fs::path& folder) {
    std::error_code ec;
    fs::create_directory(programFolder / "clients", ec);
    fs::create_directory(folder, ec);
}

bool launchGame(LauncherState& state, PageHost& host) {
    const auto* selected = state.selectedEntry();
    if (!selected) return false;
    const ServerEntry entry = *selected;
    if (refuseEscapingEntry(state, host, entry, u"Play")) return false;
    const fs::path folder = state.installFolderOf(entry);
    const fs::path exe = findGameExecutable(folder, entry.launchExecutable);
    if (exe.empty()) {
        reportNotFound(host, u"ERROR: Game executable not found: ", expectedGameExecutable(folder, entry.launchExecutable),
                       u"Play");
        return false;
    }
    if (reportMissingWine(host, exe, u"ERROR: Launch failed: ", u"Play")) {
        state.taskStatus = u"Launch failed";
        (void)host.mailbox()->post(WM_REFRESH_PAGE, 0, 0);
        return false;
    }
    state.taskStatus = u"Launching game...";
    (void)host.mailbox()->post(WM_REFRESH_PAGE, 0, 0);
    if (!host.shell().spawnProgram(exe, {}, folder)) {
        LogFile::write(u"ERROR: Launch failed: " + exe.u16string());
        host.showNotice({u"Could not start:\n" + exe.u16string(), u"Play", NoticeIcon::Warning});
        state.taskStatus = u"Launch failed";
        (void)host.mailbox()->post(WM_REFRESH_PAGE, 0, 0);
        return false;
    }
    return true;
}

void configureSelected(LauncherState& state, PageHost& host) {
    if (state.busy) return;
    const auto* selected = state.selectedEntry();
    if (!selected) return;
    const ServerEntry entry = *selected;
    if (refuseEscapingEntry(state, host, entry, u"Configure")) return;
    const fs::path folder = state.installFolderOf(entry);
    const fs::path exe = findGameExecutable(folder, entry.launchExecutable);
    if (exe.empty()) {
        reportNotFound(host, u"ERROR: Cannot configure, executable not found: ",
                       expectedGameExecutable(folder, entry.launchExecutable), u"Configure");
        return;
    }
    if (reportMissingWine(host, exe, u"ERROR: Sysconfig launch failed: ", u"Configure")) return;
    if (!host.shell().spawnProgram(exe, {u"-sysconfig"}, folder)) {
        LogFile::write(u"ERROR: Sysconfig launch failed: " + exe.u16string());
        host.showNotice({u"Could not start configuration:\n" + exe.u16string(), u"Configure", NoticeIcon::Warning});
    }
}

void openInstallFolder(LauncherState& state, PageHost& host) {
    if (state.busy) return;
    const auto* selected = state.selectedEntry();
    if (!selected || refuseEscapingEntry(state, host, *selected, u"Open Folder")) return;
    const fs::path folder = state.installFolderOf(*selected);
    createInstallFolders(state.programFolder, folder);
    if (!host.shell().openPath(folder)) {
        LogFile::write(u"ERROR: Could not open folder: " + folder.u16string());
        host.showNotice({u"Could not open install folder:\n" + folder.u16string(), u"Open Folder", NoticeIcon::Warning});
    }
}

}  // namespace mendly
