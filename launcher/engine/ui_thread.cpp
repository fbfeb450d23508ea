#include "ui_thread.h"

#include <glib.h>

#include <utility>

namespace mendly {

void runOnUiThread(std::function<void()> task) {
    auto* held = new std::function<void()>(std::move(task));
    g_main_context_invoke_full(
        nullptr, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        held, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace mendly
