#pragma once
// A one-shot timer on the UI thread's main loop (the default GLib main
// context). UI thread only; the timer is stopped when it is destroyed.
#include <chrono>
#include <functional>

namespace mendly {

class UiTimer {
public:
    UiTimer() = default;
    ~UiTimer() { stop(); }
    UiTimer(const UiTimer&) = delete;
    UiTimer& operator=(const UiTimer&) = delete;

    // Runs `fired` once on the UI thread after `delay`; a timer still
    // running is stopped first.
    void start(std::chrono::milliseconds delay, std::function<void()> fired);
    void stop();

private:
    unsigned source_ = 0;  // the GLib source, 0 when none runs
    std::function<void()> fired_;
};

}  // namespace mendly
