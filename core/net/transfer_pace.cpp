#include "net/transfer_pace.h"

namespace mendly {

void TransferPace::restart(Clock::time_point now) {
    started_ = true;
    start_ = now;
    samples_.clear();
    samples_.push_back({now, total_});
}

bool TransferPace::stalled(Clock::time_point now) {
    if (!started_) return false;
    if (now - samples_.back().at >= std::chrono::seconds(1)) samples_.push_back({now, total_});
    const auto windowStart = now - window_;
    // Keep the newest sample at or before the window's start as the baseline:
    // it counts at most a second more than the window holds, never less.
    while (samples_.size() >= 2 && samples_[1].at <= windowStart) samples_.pop_front();
    if (now - start_ < window_) return false;
    return total_ - samples_.front().total < minimum_;
}

}  // namespace mendly
