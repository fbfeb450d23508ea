#include "patch/cancel_flag.h"

namespace mendly {
namespace {

// A signal handler may only touch lock-free atomics.
static_assert(CancelFlag::is_always_lock_free);

// Constant-initialised: usable before main and from any static initialiser.
constinit CancelFlag g_cancel{false};

}  // namespace

void requestPatchCancel() noexcept { g_cancel.store(true); }
void resetPatchCancel() noexcept { g_cancel.store(false); }
bool isPatchCancelRequested() noexcept { return g_cancel.load(); }

const CancelFlag& patchCancelFlag() noexcept { return g_cancel; }
CancelFlag& patchCancelFlagForSignalHandler() noexcept { return g_cancel; }

}  // namespace mendly
