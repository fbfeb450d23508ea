#pragma once
// PageHost over the launcher's EngineWindow (GTK/WebKit) and the desktop:
// GTK boxes and the duplicate prompt owned by the window, GIO and spawn for
// starting things, the launcher-entry signal for the task bar. Posted page
// refreshes are paced to at most kRefreshesPerSecond (the last one always
// arrives; a task's start and end arrive at once). Detached work (the page's
// feed downloads) shares kWorkerThreads threads, at most kQueuedWork waiting;
// with them the launcher process stays under kMostThreads threads however
// many feeds the page asks for (the rest are the engine's and GLib's own and
// the few background checks). UI thread only; the window must outlive the host.
#include <chrono>

#include "engine_window.h"
#include "bridge/page_host.h"
#include "bridge/refresh_pacer.h"
#include "bridge/shared_work_pool.h"
#include "gio_shell_opener.h"
#include "launcher_entry_progress.h"
#include "window_icon.h"

namespace mendly {

class EnginePageHost : public PageHost {
public:
    static constexpr int kRefreshesPerSecond = 10;
    static constexpr std::size_t kWorkerThreads = 4;
    static constexpr std::size_t kQueuedWork = 64;
    static constexpr std::size_t kMostThreads = 48;

    explicit EnginePageHost(EngineWindow& window);
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
    ShellOpener& shell() override { return opener_; }
    TaskbarProgress& taskbar() override { return taskbar_; }
    void startPatch(PatchStart start) override { startPatchAsync(mailbox(), std::move(start)); }

private:
    EngineWindow& window_;
    GioShellOpener opener_;
    // The launcher's own desktop entry: the one the task bar shows it under.
    LauncherEntryProgress taskbar_{"application://" + std::string(kLauncherDesktopId) + ".desktop"};
    const LauncherState* refreshState_ = nullptr;  // the state of the newest request
    bool requestedBusy_ = false;                   // the busy flag of the newest request
    unsigned refreshTimer_ = 0;                    // GLib source of the trailing push, 0 when none
    RefreshPacer pacer_;
    SharedWorkPool workers_;
};

}  // namespace mendly
