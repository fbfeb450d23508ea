#include "bridge/refresh_pacer.h"

namespace mendly {

RefreshPacer::RefreshPacer(std::chrono::milliseconds interval, std::function<void()> push, Clock clock,
                           StartTimer startTimer)
    : interval_(interval), push_(std::move(push)), clock_(std::move(clock)), startTimer_(std::move(startTimer)) {}

void RefreshPacer::request(bool urgent) {
    if (urgent) {
        // A running timer finds nothing pending and does nothing.
        pending_ = false;
        pushNow();
        return;
    }
    if (timerRunning_) {
        pending_ = true;
        return;
    }
    const auto now = clock_();
    if (!lastPush_ || now - *lastPush_ >= interval_) {
        pushNow();
        return;
    }
    pending_ = true;
    timerRunning_ = true;
    const auto rest = std::chrono::ceil<std::chrono::milliseconds>(interval_ - (now - *lastPush_));
    startTimer_(rest);
}

void RefreshPacer::timerFired() {
    timerRunning_ = false;
    if (!pending_) return;
    pending_ = false;
    pushNow();
}

void RefreshPacer::pushNow() {
    lastPush_ = clock_();
    push_();
}

}  // namespace mendly
