#pragma once
// Paces pushes of the launcher's state into the page. During a patch run the
// worker reports many times a second; each report asks for a push, and
// pushing every one floods the page so that its own calls into native code
// wait behind them. The pacer pushes at once when the last push is at least
// one interval old, and otherwise pushes once at the end of the interval:
// at most one push per interval, and the last request is never lost (the
// push reads the state as it is then, the newest). A request marked urgent
// (a task starting or ending) is pushed at once: the page must see both
// edges of a task even when the task is shorter than one interval.
//
// Thread: one thread (the UI thread); the timer must call timerFired() on it.
#include <chrono>
#include <functional>
#include <optional>

namespace mendly {

class RefreshPacer {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Starts a one-shot timer that calls timerFired() after `delay`.
    using StartTimer = std::function<void(std::chrono::milliseconds delay)>;

    RefreshPacer(std::chrono::milliseconds interval, std::function<void()> push, Clock clock, StartTimer startTimer);

    // A push is wanted: now, or at the end of the current interval; now
    // whatever the interval when `urgent`.
    void request(bool urgent = false);
    // The timer started by request() has run out.
    void timerFired();

private:
    void pushNow();

    std::chrono::milliseconds interval_;
    std::function<void()> push_;
    Clock clock_;
    StartTimer startTimer_;
    std::optional<std::chrono::steady_clock::time_point> lastPush_;
    bool timerRunning_ = false;
    bool pending_ = false;
};

}  // namespace mendly
