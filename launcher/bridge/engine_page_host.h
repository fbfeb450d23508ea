#pragma once
// PageHost over the launcher's EngineWindow (GTK/WebKit) and the desktop:
// GTK boxes and the duplicate prompt owned by the window, and the shell
// opener and task bar indicator the app hands in. Posted page refreshes are
// paced to at most kRefreshesPerSecond (the last one always arrives; a
// task's start and end arrive at once). Detached work (the page's
// feed downloads) shares kWorkerThreads threads, at most kQueuedWork waiting;
// with them the launcher process stays under kMostThreads threads however
// many feeds the page asks for (the rest are the engine's and GLib's own and
// the few background checks). Patch runs are started by the starter the app
// hands in (startPatchAsync of tasks/patch_worker.h). UI thread only; the
// window must outlive the host.
#include <chrono>

#include "engine_window.h"
#include "bridge/page_host.h"
#include "bridge/refresh_pacer.h"
#include "bridge/shared_work_pool.h"
#include "ui_timer.h"

namespace mendly {

class EnginePageHost : public PageHost {
public:
    static constexpr int kRefreshesPerSecond = 10;
    static constexpr std::size_t kWorkerThreads = 4;
    static constexpr std::size_t kQueuedWork = 64;
    static constexpr std::size_t kMostThreads = 48;

    // Starts a patch run's worker that reports through `mailbox`; throws
    // std::system_error when no thread can be created.
    using PatchStarter = void (*)(std::shared_ptr<PatchWindow> mailbox, PatchStart start);

    // `shell` and `taskbar` must outlive the host.
    EnginePageHost(EngineWindow& window, ShellOpener& shell, TaskbarProgress& taskbar, PatchStarter startPatch);
    ~EnginePageHost() override;
    EnginePageHost(const EnginePageHost&) = delete;
    EnginePageHost& operator=(const EnginePageHost&) = delete;

    void callPage(std::string_view function, const nlohmann::json& args) override;
    void requestRefresh(const LauncherState* state) override;
    void showNotice(const Notice& notice) override;
    std::shared_ptr<PatchWindow> mailbox() override { return window_.channel(); }
    DetachedStart runDetached(const std::string& key, std::function<nlohmann::json()> work,
                              std::function<void(nlohmann::json)> done) override;
    bool askYesNo(const Notice& question) override;
    DuplicatePromptResult promptDuplicate(const std::string& defaultName, const std::string& defaultDescription,
                                          const ServerCatalog& catalog) override;
    ShellOpener& shell() override { return shell_; }
    TaskbarProgress& taskbar() override { return taskbar_; }
    void startPatch(PatchStart start) override { startPatch_(mailbox(), std::move(start)); }

private:
    EngineWindow& window_;
    ShellOpener& shell_;
    TaskbarProgress& taskbar_;
    PatchStarter startPatch_;
    const LauncherState* refreshState_ = nullptr;  // the state of the newest request
    bool requestedBusy_ = false;                   // the busy flag of the newest request
    RefreshPacer pacer_;
    SharedWorkPool workers_;
    UiTimer refreshTimer_;  // the pacer's trailing push; stopped first when the host goes
};

}  // namespace mendly
