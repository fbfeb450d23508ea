#pragma once
// The posting channel of a window: worker threads post numbered messages with
// two integer parameters, and the window's (UI) thread receives them later, in
// the order they were posted, from the GLib main loop (one idle-priority source
// per message, so a receiver never runs inside the post() that queued it and
// painting is never starved).
//
// Ownership: the window creates the channel and closes it when it goes away;
// senders keep it alive through a shared_ptr, so a late post() is safe and
// fails. A payload pointed to by lParam belongs to the receiver once post()
// returned true. Messages still queued when the channel closes are handed to
// the discard function instead (on the closing thread), which frees their
// payloads: nothing leaks and nothing is delivered to a window that is gone.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "patch/patch_window.h"

namespace mendly {

struct PostedMessage {
    unsigned message = 0;
    std::intptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class PostChannel : public PatchWindow, public std::enable_shared_from_this<PostChannel> {
public:
    using Receiver = std::function<void(const PostedMessage&)>;

    // `receive` runs on the thread of the default GLib main context for each
    // delivered message; `discard` gets the messages left when close() runs.
    static std::shared_ptr<PostChannel> create(Receiver receive, Receiver discard);

    // Any thread. False once the channel is closed (the payload stays the caller's).
    [[nodiscard]] bool post(unsigned message, std::intptr_t wParam, std::intptr_t lParam) override;

    // UI thread. Stops delivery and discards what is queued; later posts fail.
    // A second close does nothing.
    void close();
    bool isOpen() const;

private:
    PostChannel(Receiver receive, Receiver discard);
    static int deliverOne(void* self);  // GSourceFunc

    Receiver receive_;
    Receiver discard_;
    mutable std::mutex mutex_;
    std::deque<PostedMessage> queue_;
    bool open_ = true;
};

}  // namespace mendly
