#pragma once
// What the launcher's native side needs from its window, seen from the
// bridge, the message handlers and the background checks: calls into the
// page, message boxes owned by the window, the posting channel that workers
// report through, and work handed to a small pool of worker threads whose
// results come back on the UI thread; and the desktop: questions, the
// duplicate prompt, the shell that starts programs and folders, the task bar
// indicator and the patch worker.
//
// Thread: every member is called on the UI thread. mailbox() may be handed to
// other threads (it outlives the window; a post to a closed window fails).
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "bridge/patch_start.h"
#include "catalog/server_catalog.h"
#include "model/duplicate_prompt_input.h"
#include "model/notice.h"
#include "model/shortcuts.h"
#include "model/taskbar_progress.h"
#include "patch/patch_window.h"

namespace mendly {

struct LauncherState;

class PageHost {
public:
    virtual ~PageHost() = default;

    // Calls a global function of the page; its result is ignored and its
    // errors are logged, never raised here.
    virtual void callPage(std::string_view function, const nlohmann::json& args) = 0;
    // A push of the whole page state (refreshPage) asked for by a posted
    // WM_REFRESH_PAGE. The host may pace these: push later, once for several
    // requests, reading `state` as it is then. `state` must stay valid while
    // the host lives.
    virtual void requestRefresh(const LauncherState* state) = 0;
    // A message box owned by the launcher window; returns when it is closed.
    virtual void showNotice(const Notice& notice) = 0;
    // Where workers post the launcher's private messages.
    virtual std::shared_ptr<PatchWindow> mailbox() = 0;
    // Runs `work` on the host's small pool of worker threads (SharedWorkPool:
    // a few at once, a bounded number waiting); `done` later receives its
    // result on the UI thread. While work with the same non-empty `key` waits
    // or runs, this call joins it: `done` gets that result and `work` is
    // dropped. Neither `done` nor anything it holds is touched by a worker.
    // When the UI has gone away `done` may never run. Busy (too much work
    // waiting) and NoThread (no worker could be started): nothing runs and
    // `done` is never called; the caller answers for itself.
    enum class DetachedStart { Accepted, Busy, NoThread };
    [[nodiscard]] virtual DetachedStart runDetached(const std::string& key, std::function<nlohmann::json()> work,
                                                    std::function<void(nlohmann::json)> done) = 0;

    // A Yes/No question owned by the launcher window, No being the default
    // button. True only for Yes.
    virtual bool askYesNo(const Notice& question) = 0;
    // The modal "Duplicate Installation" prompt over the launcher window.
    virtual DuplicatePromptResult promptDuplicate(const std::string& defaultName,
                                                  const std::string& defaultDescription,
                                                  const ServerCatalog& catalog) = 0;
    // How programs, documents and folders are started.
    virtual ShellOpener& shell() = 0;
    virtual TaskbarProgress& taskbar() = 0;
    // Starts the patch worker (startPatchAsync of tasks/patch_worker.h over
    // mailbox()); throws
    // std::system_error when no thread can be created.
    virtual void startPatch(PatchStart start) = 0;
};

}  // namespace mendly
