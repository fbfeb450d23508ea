#include "bridge/engine_page_host.h"

#include "bridge/page_refresh.h"
#include "duplicate_prompt_dialog.h"
#include "log/log_file.h"
#include "log/text.h"
#include "message_box.h"
#include "ui_thread.h"

namespace mendly {
namespace {

MessageBoxIcon boxIcon(NoticeIcon icon) {
    switch (icon) {
        case NoticeIcon::Information: return MessageBoxIcon::Info;
        case NoticeIcon::Warning: return MessageBoxIcon::Warning;
        case NoticeIcon::Error: return MessageBoxIcon::Error;
    }
    return MessageBoxIcon::Warning;
}

}  // namespace

EnginePageHost::EnginePageHost(EngineWindow& window, ShellOpener& shell, TaskbarProgress& taskbar,
                               PatchStarter startPatch)
    : window_(window),
      shell_(shell),
      taskbar_(taskbar),
      startPatch_(startPatch),
      pacer_(
          std::chrono::milliseconds(1000 / kRefreshesPerSecond), [this] { refreshPage(refreshState_, *this); },
          [] { return std::chrono::steady_clock::now(); },
          [this](std::chrono::milliseconds delay) { refreshTimer_.start(delay, [this] { pacer_.timerFired(); }); }),
      workers_({kWorkerThreads, kQueuedWork}, &runOnUiThread) {}

EnginePageHost::~EnginePageHost() = default;

void EnginePageHost::requestRefresh(const LauncherState* state) {
    refreshState_ = state;
    // A task's start and end are pushed at once, so that the page sees a
    // task that ends within one interval and reloads after it. Every change
    // of the flag is followed by a request, so comparing with the previous
    // request finds every edge.
    const bool edge = state != nullptr && state->busy != requestedBusy_;
    if (state != nullptr) requestedBusy_ = state->busy;
    pacer_.request(edge);
}

void EnginePageHost::callPage(std::string_view function, const nlohmann::json& args) {
    // A page that does not define the function (yet: calls made while it
    // loads) is simply not called; an error the function raises is logged.
    window_.callPage(function, args, [name = std::string(function)](bool ok, const nlohmann::json&, const std::string& error) {
        if (ok || error.find("no page function") != std::string::npos) return;
        LogFile::write(u"WARNING: page function " + toWide(name) + u" \u2014 " + toWide(error));
    });
}

void EnginePageHost::showNotice(const Notice& notice) {
    (void)showMessageBox(&window_, notice.text, notice.caption, boxIcon(notice.icon));
}

bool EnginePageHost::askYesNo(const Notice& question) {
    return showMessageBox(&window_, question.text, question.caption, boxIcon(question.icon),
                          MessageBoxButtons::YesNo) == MessageBoxAnswer::Yes;
}

DuplicatePromptResult EnginePageHost::promptDuplicate(const std::string& defaultName,
                                                      const std::string& defaultDescription,
                                                      const ServerCatalog& catalog) {
    return mendly::promptDuplicate(&window_, defaultName, defaultDescription, catalog);
}

PageHost::DetachedStart EnginePageHost::runDetached(const std::string& key, std::function<nlohmann::json()> work,
                                                   std::function<void(nlohmann::json)> done) {
    switch (workers_.submit(key, std::move(work), std::move(done))) {
        case SharedWorkPool::Submitted::Queued:
        case SharedWorkPool::Submitted::Joined: return DetachedStart::Accepted;
        case SharedWorkPool::Submitted::Busy: return DetachedStart::Busy;
        case SharedWorkPool::Submitted::NoThread: break;
    }
    LogFile::write(u"ERROR: Could not start a worker thread");
    return DetachedStart::NoThread;
}

}  // namespace mendly
