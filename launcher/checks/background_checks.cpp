#include "checks/background_checks.h"

#include <system_error>
#include <thread>

#include "bridge/launcher_messages.h"
#include "catalog/entry_confinement.h"
#include "catalog/server_catalog.h"
#include "log/log_file.h"
#include "log/text.h"

namespace mendly {
namespace {

// Starts `body` on a detached thread. A thread that cannot be created is
// logged and the check is skipped (false): the launcher keeps running without it.
template <typename Body>
bool startDetached(Body body) {
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error& error) {
        LogFile::write(u"ERROR: Could not start a background check — " + toWide(error.what()));
        return false;
    }
}

void postRefresh(PageHost& host) { (void)host.mailbox()->post(WM_REFRESH_PAGE, 0, 0); }

}  // namespace

bool selectEntry(LauncherState& state, PageHost& host, std::int32_t index) {
    if (!state.select(index)) return false;
    refreshSelectedVersion(state, host);
    return true;
}

void refreshSelectedVersion(LauncherState& state, PageHost& host) {
    auto job = state.beginVersionFetch();
    if (!job) return;
    const std::int32_t index = job->index;
    // Without its worker the version would say "Loading..." for good: it is
    // reported as not available, as a failed fetch is.
    if (!startDetached([mailbox = host.mailbox(), job = std::move(*job)] { versionFetchWorker(mailbox, job); }))
        (void)state.onSelectedVersion(index, std::u16string());
    postRefresh(host);
}

void refreshStatuses(LauncherState& state, PageHost& host) {
    auto check = state.beginStatusCheck();
    if (!check) return;
    startDetached([mailbox = host.mailbox(), check = std::move(*check)] { statusCheckWorker(mailbox, check); });
}

void reloadCatalog(LauncherState& state, PageHost& host) {
    state.applyCatalog(loadUsableCatalog(state.programFolder));
    refreshStatuses(state, host);
}

void retryChecks(LauncherState& state, PageHost& host) {
    if (state.busy) return;
    state.clearTaskProblem(state.selected);
    refreshSelectedVersion(state, host);
    refreshStatuses(state, host);
    (void)host.mailbox()->post(WM_RELOAD_SERVER_LIST, 0, 0);
}

void versionFetchWorker(const std::shared_ptr<PatchWindow>& mailbox, const VersionFetchJob& job) {
    VersionFetch fetch = fetchVersionText(job.versionUrl);
    // A host that did not answer the version is not asked for its manifest.
    std::u16string size = fetch.failure.empty() ? nextRunSizeText(job) : std::u16string();
    auto* record = new SelectedVersionRecord{job.index, std::move(fetch.text), fetch.shown, std::move(fetch.failure),
                                             std::move(size)};
    if (!mailbox->post(WM_SELECTED_VERSION, 0, reinterpret_cast<std::intptr_t>(record))) delete record;
}

void statusCheckWorker(const std::shared_ptr<PatchWindow>& mailbox, const StatusCheck& check) {
    // One request at a time, in catalog order.
    for (const StatusCheckJob& job : check.jobs) {
        EntryCheck result = checkEntryStatus(job);
        auto* record =
            new ServerStatusRecord{check.generation, job.index, result.status, result.asked, std::move(result.failure)};
        if (!mailbox->post(WM_SERVER_STATUS, 0, reinterpret_cast<std::intptr_t>(record))) {
            delete record;
            return;  // the window is gone: nobody wants the rest
        }
    }
}

}  // namespace mendly
