#include "launcher_update_check.h"

#include <atomic>
#include <thread>

#include "engine_runtime.h"
#include "log/log_file.h"
#include "selfupdate/update_notice.h"

namespace mendly {
namespace {

// Set on the UI thread before the worker starts and never changed after.
std::shared_ptr<PatchWindow> g_noticeMailbox;
// UI thread only.
std::unique_ptr<StagedLauncherUpdate> g_pending;

void postNotice(UpdateNoticeIcon icon, const std::u16string& text) {
    if (g_noticeMailbox)
        (void)postTextMessage(*g_noticeMailbox, WM_LAUNCHER_UPDATE_NOTICE, static_cast<std::intptr_t>(icon), text);
}

}  // namespace

void startLauncherUpdateCheck(std::shared_ptr<PatchWindow> mailbox, const std::filesystem::path& programFolder,
                              SelfUpdateSource source, SelfUpdateSkipReason skip) {
    g_noticeMailbox = mailbox;
    setUpdateNoticeSink(&postNotice);
    std::thread([mailbox = std::move(mailbox), programFolder, source = std::move(source), skip] {
        auto staged = stageLauncherUpdate(programFolder, source, skip);
        if (!staged) return;
        auto* payload = new StagedLauncherUpdate(std::move(*staged));
        if (!mailbox->post(WM_LAUNCHER_UPDATE_STAGED, 0, reinterpret_cast<std::intptr_t>(payload))) delete payload;
    }).detach();
}

void onLauncherUpdateStaged(LauncherState& state, std::unique_ptr<StagedLauncherUpdate> staged) {
    if (!staged) return;
    g_pending = std::move(staged);
    handOverWhenIdle(state);
}

void handOverWhenIdle(LauncherState& state) {
    if (!g_pending || state.busy) return;
    const auto staged = std::move(g_pending);
    // keelswap waits for this process to end before it replaces our files.
    if (handOverLauncherUpdate(state.programFolder, *staged)) quitEngineLoop();
}

void freeLauncherUpdatePayload(const PostedMessage& message) {
    if (message.lParam == 0) return;
    if (message.message == WM_LAUNCHER_UPDATE_NOTICE) adoptTextPayload(message.lParam);
    if (message.message == WM_LAUNCHER_UPDATE_STAGED)
        delete reinterpret_cast<StagedLauncherUpdate*>(message.lParam);
}

}  // namespace mendly
