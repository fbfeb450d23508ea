#pragma once
// The stall rule of a transfer: once the connection is made, fewer than
// `minimumBytes` arriving in any `window` ends it. A trickle that keeps the
// connection alive with a few bytes at a time is a stall like silence.
//
// Owned by one transfer and used on its thread only. Time is a steady clock's;
// the samples kept are at most one per second of the window.
#include <chrono>
#include <cstdint>
#include <deque>

namespace mendly {

class TransferPace {
public:
    using Clock = std::chrono::steady_clock;

    TransferPace(std::chrono::seconds window, std::uint64_t minimumBytes) : window_(window), minimum_(minimumBytes) {}

    // The connection is made (again, for a redirect): the window starts now.
    void restart(Clock::time_point now);
    // `count` more bytes arrived.
    void received(std::uint64_t count) { total_ += count; }
    // True when a whole window has passed since restart() and fewer than the
    // minimum arrived in the last window. False before the first restart().
    bool stalled(Clock::time_point now);

private:
    struct Sample {
        Clock::time_point at;
        std::uint64_t total;
    };
    std::chrono::seconds window_;
    std::uint64_t minimum_;
    std::uint64_t total_ = 0;
    bool started_ = false;
    Clock::time_point start_{};
    std::deque<Sample> samples_;  // oldest first; the front is at or before the window's start
};

}  // namespace mendly
