#pragma once
// LauncherState: the launcher's one model object, owned by the program for
// its whole run.
//
// Thread: the UI thread only. Every field is read and written there; workers
// (patch runs, status checks, version fetches) get copies of what they need
// (StatusCheckJob, VersionFetchJob) and report back by posted messages whose
// handlers call the on...() functions below on the UI thread.
//
// The model never touches the window: operations that need the desktop take a
// ShellOpener, and messages for the user come back as a Notice for the caller
// to show. Starting threads and posting belong to the engine layer.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/server_catalog.h"
#include "patch/patch_window.h"
#include "model/entry_problem.h"
#include "model/launcher_settings.h"
#include "model/notice.h"
#include "model/shortcuts.h"
#include "model/status_check.h"
#include "patch/patch_mode.h"

namespace mendly {

class EngineWindow;

struct LauncherState {
    // The main window; null until it has been shown, and again at teardown.
    // Not owned. Background checks start only while it is set.
    EngineWindow* window = nullptr;
    ServerCatalog catalog;                    // built-in entries first, then custom
    std::size_t builtInCount = 0;             // entries below this index are built-in
    std::vector<Shortcut> shortcuts;          // shortcuts.json, loaded once
    std::filesystem::path programFolder;      // the launcher's folder
    std::int32_t selected = 0;                // index into catalog.entries; -1 when it is empty
    bool busy = false;                        // a patch task is running
    bool launchAfterTask = false;             // the running task is Play: launch when it succeeds
    std::u16string taskStatus;                // status line of the running task
    std::int32_t progressDone = 0;
    std::int32_t progressTotal = 0;
    std::u16string selectedVersion;           // version text or placeholder (server_version.h)
    VersionShown selectedVersionShown = VersionShown::None;  // what selectedVersion is
    std::vector<std::int32_t> entryStatuses;  // EntryStatus per catalog index
    std::vector<EntryProblem> entryProblems;  // per catalog index, like the statuses
    // The download size of the selected entry's next run ("56 MB"), shown
    // after the play button's label; empty while it is not known.
    std::u16string sizeText;
    std::int32_t checkGeneration = 0;         // number of the newest status check
    LauncherSettings settings;                // launcher-settings.json, loaded at start-up
    bool pauseRequested = false;              // the running task was paused: it ends as Paused
    PatchMode taskMode = PatchMode::Install;  // the running task's mode
    std::optional<PatchTransfer> transfer;    // the running (or paused) download's bytes and speed

    // The paused download of the selected entry, if any (settings.paused
    // naming it).
    const PausedDownload* pausedSelected() const;
    // Pause is offered while a task downloads and nothing stops it yet.
    bool canPause() const;
    // "12.3 MB of 27.0 MB · 1.2 MB/s · 2 min left": what the progress area
    // shows under the status while a download runs or is paused; the parts
    // not known yet are left out, empty without a transfer.
    std::u16string transferText() const;

    // 0 <= selected < number of entries. Operations on the selected entry do
    // nothing when the selection is not valid.
    bool selectionValid() const;
    // The selected entry, or null when the selection is not valid.
    const ServerEntry* selectedEntry() const;
    std::filesystem::path installFolderOf(const ServerEntry& entry) const;
    // isInstalled of the entry's installation folder (probes the file system).
    bool isEntryInstalled(const ServerEntry& entry) const;
    // Bytes an interrupted install of the entry left staged for the next run
    // (interrupted_install.h); 0 when it is installed or nothing is staged.
    // Reads the staging folder.
    std::uint64_t partlyDownloadedBytes(const ServerEntry& entry) const;
    // entryStatuses[index], 0 when the list is too short.
    std::int32_t entryStatus(std::size_t index) const;
    // The problem of the entry at `index`, null when it has none.
    const EntryProblem* problemOf(std::size_t index) const;
    const EntryProblem* selectedProblem() const;
    // The version text of the selected installation's own _version._ as the
    // header shows it (formatServerVersion); empty when it is not installed
    // or has no version file. Reads the file.
    std::u16string installedVersionText() const;

    // A check of the entry at `index` reached its host (`failure` empty) or
    // did not (the HTTP client's sentence). True when the entry's problem
    // changed (the caller then reloads the tiles); bad indices are ignored.
    bool noteCheckOutcome(std::int32_t index, std::u16string_view failure);
    // A task on the entry at `index` failed with `detail`.
    void noteTaskFailure(std::int32_t index, PatchMode mode, std::u16string detail);
    // Forgets a task problem of the entry at `index` (a new task or a retry).
    void clearTaskProblem(std::int32_t index);

    // displayName of the selected entry, "—" when none is valid.
    std::u16string selectedServerHeader() const;
    // "Pausing...", "Cancelling...", "Patching...", "Installing..." while busy
    // (by the pause request, the cancel flag and the task kind: Play and
    // Update runs patch); "Resume" for a selected entry with a paused
    // download or one partly downloaded (its install carries on); "Update" for an installed selected entry marked out of date,
    // "Launch" for another installed one; else "Install".
    std::u16string playButtonLabel() const;
    // False while busy or without a valid selection, and for an entry that is
    // not installed while its host is unreachable (Retry comes first); else
    // true when the entry names a launch executable, or when it is installed
    // anyway.
    bool canPlay() const;
    bool progressVisible() const;

    // The selection step of a tile click: true (and selected = index) when not
    // busy and index names an entry; false and nothing changed otherwise. The
    // caller then starts the version fetch.
    bool select(std::int32_t index);

    // Takes over a freshly loaded catalog: the selection moves to 0 when it no
    // longer names an entry (-1 for an empty catalog), and the status list
    // follows the entry count (new entries 0, the others keep their marks,
    // which stay attached to positions). The caller then starts a status check.
    void applyCatalog(ServerCatalog loaded);

    // The start of the selected entry's version fetch: with a valid selection
    // and a window, selectedVersion becomes "Loading…" and the job is returned
    // (the caller posts a page refresh and runs it); otherwise "—" and nothing.
    std::optional<VersionFetchJob> beginVersionFetch();
    // The start of a status check: with a window and a non-empty catalog the
    // generation goes up by one and one job per entry is returned, installed
    // flags evaluated now; otherwise nothing changes.
    std::optional<StatusCheck> beginStatusCheck();

    // A status result. True when it was taken (the caller then reloads the
    // page's tiles); stale generations and bad indices are dropped.
    bool onServerStatus(std::int32_t generation, std::int32_t index, std::int32_t status);
    // A version result. True when it was for the selected index and was taken
    // (an empty text is shown as "Unavailable"); the caller refreshes the page.
    bool onSelectedVersion(std::int32_t index, std::u16string text, VersionShown shown = VersionShown::Known);
    // The next run's size for the entry at `index` (nextRunSizeText). True
    // when it is for the selected index and was taken.
    bool onSelectedSize(std::int32_t index, std::u16string text);

    // The selected installation's language code; "en" without a valid selection.
    std::string readLanguage() const;
    // Writes the language of the selected installation. Nothing happens (and
    // nothing is returned) while busy, without a valid selection or for an
    // unsupported code. Logs "Set language <code> for <name>" on success; on
    // failure returns the Notice to show.
    [[nodiscard]] std::optional<Notice> writeLanguage(std::string_view code);

    // The page's launchShortcut: result false for an index outside the list.
    ShortcutLaunch launchShortcut(std::int32_t index, ShellOpener& opener) const;
};

}  // namespace mendly
