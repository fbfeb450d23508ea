#pragma once
// A download rate shared by every transfer of a run: each transfer takes the
// bytes that arrived before it hands them on and waits for its turn, so the
// sum of all transfers keeps to the rate however many are in flight. Waiting
// inside the receiving callback leaves the rest unread in the socket, and the
// host slows down to match.
//
// Threads: any number of transfers call take() at once; the schedule has its
// own mutex. The object is owned by whoever starts the run (one per run) and
// must outlive every transfer that was handed it.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace mendly {

// The lowest rate accepted: every transfer of a full set in flight still gets
// far more than the stall rule's minimum (kHttpMinimumBytesPerWindow per 30 s).
inline constexpr std::uint64_t kMinimumRateLimit = 16u << 10;
// The highest: 1024 GiB/s, far past any link, and safe from overflow.
inline constexpr std::uint64_t kMaximumRateLimit = 1ull << 40;

// "5M", "750k", "1.5G", "65536": bytes per second, K/M/G = 1024, 1024², 1024³
// (letter case ignored, blanks around it allowed). Nothing for anything else,
// for fractions of a byte, and outside kMinimumRateLimit..kMaximumRateLimit.
std::optional<std::uint64_t> parseRateLimit(std::u16string_view text);
// The shortest form parseRateLimit reads back: "5M" for 5 MiB/s, "1536K",
// otherwise the plain number.
std::u16string formatRateLimit(std::uint64_t bytesPerSecond);
// The sentence for a text parseRateLimit refuses.
std::u16string rateLimitProblem(std::u16string_view text);

class TransferRateLimit {
public:
    using Clock = std::chrono::steady_clock;

    // The schedule may run this far ahead of an idle moment: a short burst
    // after a pause, never more than a tenth of a second's worth.
    static constexpr std::chrono::milliseconds kBurst{100};

    explicit TransferRateLimit(std::uint64_t bytesPerSecond) : rate_(bytesPerSecond) {}
    TransferRateLimit(const TransferRateLimit&) = delete;
    TransferRateLimit& operator=(const TransferRateLimit&) = delete;

    std::uint64_t bytesPerSecond() const { return rate_; }

    // Books `bytes` into the schedule at `now` and returns the moment they
    // may be handed on; bookings are served in the order they were made.
    Clock::time_point reserve(std::uint64_t bytes, Clock::time_point now);
    // reserve() now, then waits until that moment. False (at once, or within
    // a tenth of a second) when `cancel` (may be null) is or becomes set.
    bool take(std::uint64_t bytes, const std::atomic<bool>* cancel);

private:
    const std::uint64_t rate_;
    std::mutex mutex_;            // guards next_
    Clock::time_point next_{};    // when the bytes booked so far are all due
};

}  // namespace mendly
