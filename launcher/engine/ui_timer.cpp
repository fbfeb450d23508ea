#include "ui_timer.h"

#include <glib.h>

#include <utility>

namespace mendly {

void UiTimer::start(std::chrono::milliseconds delay, std::function<void()> fired) {
    stop();
    fired_ = std::move(fired);
    source_ = g_timeout_add(static_cast<guint>(delay.count()), [](gpointer data) -> gboolean {
        auto* self = static_cast<UiTimer*>(data);
        self->source_ = 0;
        // The callback may start the timer again, which replaces fired_.
        const std::function<void()> fired = std::move(self->fired_);
        fired();
        return G_SOURCE_REMOVE;
    }, this);
}

void UiTimer::stop() {
    if (source_ != 0) g_source_remove(source_);
    source_ = 0;
}

}  // namespace mendly
