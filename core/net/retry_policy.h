#pragma once
// How often a request that failed for a passing reason (isTransientFailure)
// is made again on the same host, and how long it waits first: the pause
// doubles from `firstWait` before each further attempt (1 s, 2 s, ... by
// default). The wait ends early, as a cancellation, when the cancel flag is
// set. Owned by whoever starts a run; read by its threads, never changed
// while it runs.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "net/http_failure.h"

namespace mendly {

// Waits `wait` unless `cancel` (may be null) is or becomes set first, looking
// at it every tenth of a second; false when cancelled.
bool waitUnlessCancelled(std::chrono::milliseconds wait, const std::atomic<bool>* cancel);

struct RetryPolicy {
    int attempts = 3;  // of one request on one host, the first included; at least 1
    std::chrono::milliseconds firstWait{1000};
    // No further attempt begins once this long has gone by since the first
    // began: a host that stalled (30 s without data) or could not be reached
    // in the connect time has kept the player waiting long enough.
    std::chrono::milliseconds budget{30'000};
    // The pause itself; tests put in one that returns at once (or acts).
    std::function<bool(std::chrono::milliseconds wait, const std::atomic<bool>* cancel)> wait = &waitUnlessCancelled;

    // The pause before attempt `attempt` (2 = the first retry).
    std::chrono::milliseconds waitBefore(int attempt) const;
    // Whether attempt `attempt` may follow a transient failure, the first
    // attempt having begun at `firstBegan`.
    bool mayAttempt(int attempt, std::chrono::steady_clock::time_point firstBegan) const;
};

// "Retrying in 1 s (attempt 2 of 3): patch.example.org refused the connection"
// (fractions of a second as "0.5 s").
std::u16string retryLine(std::chrono::milliseconds wait, int attempt, int attempts, std::u16string_view host,
                         const HttpFailure& failure);

}  // namespace mendly
