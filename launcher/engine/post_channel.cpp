#include "post_channel.h"

#include <glib.h>

namespace mendly {

std::shared_ptr<PostChannel> PostChannel::create(Receiver receive, Receiver discard) {
    return std::shared_ptr<PostChannel>(new PostChannel(std::move(receive), std::move(discard)));
}

PostChannel::PostChannel(Receiver receive, Receiver discard)
    : receive_(std::move(receive)), discard_(std::move(discard)) {}

bool PostChannel::post(unsigned message, std::intptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard lock(mutex_);
        if (!open_) return false;
        queue_.push_back({message, wParam, lParam});
    }
    // The source holds a reference, so the channel outlives every pending
    // delivery even when the window and all senders have let go of it.
    auto* keep = new std::shared_ptr<PostChannel>(shared_from_this());
    g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE, [](gpointer data) -> gboolean { return deliverOne(data); }, keep,
        [](gpointer data) { delete static_cast<std::shared_ptr<PostChannel>*>(data); });
    return true;
}

int PostChannel::deliverOne(void* data) {
    PostChannel& self = **static_cast<std::shared_ptr<PostChannel>*>(data);
    PostedMessage message;
    {
        std::lock_guard lock(self.mutex_);
        // Closed channels have handed their queue to the discard function.
        if (!self.open_ || self.queue_.empty()) return G_SOURCE_REMOVE;
        message = self.queue_.front();
        self.queue_.pop_front();
    }
    if (self.receive_) self.receive_(message);
    return G_SOURCE_REMOVE;
}

void PostChannel::close() {
    std::deque<PostedMessage> left;
    {
        std::lock_guard lock(mutex_);
        if (!open_) return;
        open_ = false;
        left.swap(queue_);
    }
    for (const PostedMessage& message : left) {
        if (discard_) discard_(message);
    }
}

bool PostChannel::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

}  // namespace mendly
