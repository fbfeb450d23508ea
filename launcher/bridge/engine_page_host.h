#pragma once
// PageHost over the launcher's EngineWindow (GTK/WebKit) and the desktop:
// GTK boxes and the duplicate prompt owned by the window, GIO and spawn for
// starting things, the launcher-entry signal for the task bar. UI thread
// only; the window must outlive the host.
#include "engine_window.h"
#include "bridge/page_host.h"
#include "gio_shell_opener.h"
#include "launcher_entry_progress.h"

namespace mendly {

class EnginePageHost : public PageHost {
public:
    explicit EnginePageHost(EngineWindow& window) : window_(window) {}

    void callPage(std::string_view function, const nlohmann::json& args) override;
    void showNotice(const Notice& notice) override;
    std::shared_ptr<PatchWindow> mailbox() override { return window_.channel(); }
    void runDetached(std::function<nlohmann::json()> work, std::function<void(nlohmann::json)> done) override;
    bool askYesNo(const Notice& question) override;
    DuplicatePromptResult promptDuplicate(const std::string& defaultName, const std::string& defaultDescription,
                                          const ServerCatalog& catalog) override;
    ShellOpener& shell() override { return opener_; }
    TaskbarProgress& taskbar() override { return taskbar_; }
    void startPatch(PatchStart start) override { startPatchAsync(mailbox(), std::move(start)); }

private:
    EngineWindow& window_;
    GioShellOpener opener_;
    LauncherEntryProgress taskbar_{"application://launcher.desktop"};
};

}  // namespace mendly
