#pragma once
// Handing work to the UI thread (the thread of the default GLib main context)
// from any thread.
#include <functional>

namespace mendly {

// Runs `task` on the UI thread from its main loop, never inside this call when
// called from another thread (on the UI thread itself it runs at once). The
// task is destroyed on the UI thread after it ran; when the main loop never
// runs again it is neither run nor destroyed.
void runOnUiThread(std::function<void()> task);

}  // namespace mendly
