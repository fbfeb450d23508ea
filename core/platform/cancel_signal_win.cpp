#include "platform/cancel_signal.h"

#include <windows.h>

namespace mendly::platform {
namespace {

// The console runs the handler on a thread of its own; it may only touch
// lock-free atomics.
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);

std::atomic<std::atomic<bool>*> g_target{nullptr};
bool g_installed = false;  // main thread only

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing, logoff: the default
    if (std::atomic<bool>* target = g_target.load()) target->store(true);
    return TRUE;
}

}  // namespace

bool installCancelHandler(std::atomic<bool>& cancel) {
    g_target.store(&cancel);
    if (g_installed) return true;
    if (!::SetConsoleCtrlHandler(onConsoleControl, TRUE)) return false;
    g_installed = true;
    return true;
}

void removeCancelHandler() {
    if (!g_installed) return;
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    g_installed = false;
    g_target.store(nullptr);
}

// A write to a pipe whose reader went away fails with an error on Windows;
// there is no signal to ignore.
void ignoreBrokenPipes() {}

}  // namespace mendly::platform
