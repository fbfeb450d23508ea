#include "tasks/installation_dialogs.h"

#include "bridge/launcher_messages.h"
#include "catalog/delete_installation.h"
#include "catalog/duplicate_installation.h"
#include "catalog/install_layout.h"
#include "checks/background_checks.h"
#include "log/log_file.h"
#include "log/text.h"

namespace mendly {
namespace {

// A custom entry may carry the name of a built-in one; it is protected too.
bool isBuiltIn(const LauncherState& state, const ServerEntry& entry) {
    if (static_cast<std::size_t>(state.selected) < state.builtInCount) return true;
    for (std::size_t i = 0; i < state.builtInCount && i < state.catalog.entries.size(); ++i)
        if (equalsIgnoreAsciiCase(state.catalog.entries[i].name, entry.name)) return true;
    return false;
}

void selectByName(LauncherState& state, std::string_view name) {
    for (std::size_t i = 0; i < state.catalog.entries.size(); ++i) {
        if (equalsIgnoreAsciiCase(state.catalog.entries[i].name, name)) {
            state.selected = static_cast<std::int32_t>(i);
            return;
        }
    }
}

// After a change of customlist.json: the new catalog, the selection's
// version and the tiles.
void afterCatalogChange(LauncherState& state, PageHost& host, std::string_view selectName) {
    reloadCatalog(state, host);
    if (!selectName.empty()) selectByName(state, selectName);
    refreshSelectedVersion(state, host);
    (void)host.mailbox()->post(WM_RELOAD_SERVER_LIST, 0, 0);
}

}  // namespace

void duplicateSelected(LauncherState& state, PageHost& host) {
    if (state.busy || !state.selectionValid()) return;
    const ServerEntry entry = *state.selectedEntry();
    if (!state.isEntryInstalled(entry)) {
        host.showNotice({u"Install this server before creating a duplicate.", u"Duplicate", NoticeIcon::Information});
        return;
    }
    const DuplicatePromptResult answer =
        host.promptDuplicate(defaultCopyName(state.catalog, entry), displayName(entry) + " (Copy)", state.catalog);
    if (!answer.confirmed) return;

    std::u16string error;
    const InstallationResult code = duplicateInstallation(state.programFolder, state.catalog, entry.name, answer.name,
                                                          answer.description, error);
    if (code != InstallationResult::Done) {
        LogFile::write(u"ERROR: Duplicate failed: " + error);
        const bool refusedName = code == InstallationResult::NameInUse || code == InstallationResult::NameNotAllowed;
        host.showNotice({error.empty() ? u"Could not duplicate the installation." : error, u"Duplicate",
                         refusedName ? NoticeIcon::Warning : NoticeIcon::Error});
        return;
    }
    LogFile::write(u"Duplicated " + toWide(entry.name) + u" as " + toWide(answer.name));
    afterCatalogChange(state, host, answer.name);
}

void deleteSelected(LauncherState& state, PageHost& host) {
    if (state.busy || !state.selectionValid()) return;
    const ServerEntry entry = *state.selectedEntry();
    if (isBuiltIn(state, entry)) {
        host.showNotice({u"Built-in installations cannot be deleted.", u"Delete Installation", NoticeIcon::Information});
        return;
    }
    const auto folder = state.installFolderOf(entry);
    const std::u16string question = u"Delete this custom installation?\n\n" + toWide(displayName(entry)) + u"\n" +
                                    folder.u16string() +
                                    u"\n\nThe game files and the customlist.json entry will be removed. This cannot "
                                    u"be undone.";
    if (!host.askYesNo({question, u"Delete Installation", NoticeIcon::Warning})) return;

    std::u16string error;
    const InstallationResult code =
        deleteInstallation(state.programFolder, state.catalog, state.builtInCount, entry.name, error);
    if (code != InstallationResult::Done) {
        LogFile::write(u"ERROR: Delete failed: " + error);
        host.showNotice({error.empty() ? u"Could not delete the installation." : error, u"Delete Installation",
                         NoticeIcon::Error});
        return;
    }
    LogFile::write(u"Deleted custom installation: " + toWide(entry.name));
    afterCatalogChange(state, host, {});
}

}  // namespace mendly
