#include "platform/cancel_signal.h"

#include <signal.h>

namespace mendly::platform {
namespace {

// The handler may only touch lock-free atomics.
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);

std::atomic<std::atomic<bool>*> g_target{nullptr};

struct SavedDispositions {
    bool installed = false;
    struct sigaction interrupt {};
    struct sigaction quit {};
};
SavedDispositions g_saved;  // main thread only

extern "C" void onCancelSignal(int) {
    if (std::atomic<bool>* target = g_target.load()) target->store(true);
}

}  // namespace

bool installCancelHandler(std::atomic<bool>& cancel) {
    g_target.store(&cancel);
    if (g_saved.installed) return true;

    struct sigaction action {};
    action.sa_handler = onCancelSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    SavedDispositions saved;
    if (sigaction(SIGINT, &action, &saved.interrupt) != 0) return false;
    if (sigaction(SIGQUIT, &action, &saved.quit) != 0) {
        sigaction(SIGINT, &saved.interrupt, nullptr);
        return false;
    }
    saved.installed = true;
    g_saved = saved;
    return true;
}

void removeCancelHandler() {
    if (!g_saved.installed) return;
    sigaction(SIGINT, &g_saved.interrupt, nullptr);
    sigaction(SIGQUIT, &g_saved.quit, nullptr);
    g_saved.installed = false;
    g_target.store(nullptr);
}

void ignoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace mendly::platform
