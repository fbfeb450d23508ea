#include "net/retry_policy.h"

#include <algorithm>
#include <thread>

#include "log/text.h"

namespace mendly {
namespace {

// "1", "0.5", "2.25": whole seconds plainly, fractions without trailing zeros.
std::u16string secondsText(std::chrono::milliseconds wait) {
    const long long ms = std::max<long long>(0, wait.count());
    std::u16string text = toDecimal(ms / 1000);
    if (long long fraction = ms % 1000; fraction != 0) {
        std::u16string digits = toDecimal(fraction);
        digits.insert(0, 3 - digits.size(), u'0');
        while (digits.back() == u'0') digits.pop_back();
        text += u"." + digits;
    }
    return text;
}

}  // namespace

bool waitUnlessCancelled(std::chrono::milliseconds wait, const std::atomic<bool>* cancel) {
    const auto due = std::chrono::steady_clock::now() + wait;
    constexpr auto kSlice = std::chrono::milliseconds(100);
    for (;;) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) return true;
        std::this_thread::sleep_until(std::min(due, now + kSlice));
    }
}

std::chrono::milliseconds RetryPolicy::waitBefore(int attempt) const {
    std::chrono::milliseconds wait = firstWait;
    for (int i = 2; i < attempt && wait < std::chrono::minutes(10); ++i) wait *= 2;
    return wait;
}

bool RetryPolicy::mayAttempt(int attempt, std::chrono::steady_clock::time_point firstBegan) const {
    return attempt <= attempts && std::chrono::steady_clock::now() - firstBegan < budget;
}

std::u16string retryLine(std::chrono::milliseconds wait, int attempt, int attempts, std::u16string_view host,
                         const HttpFailure& failure) {
    return u"Retrying in " + secondsText(wait) + u" s (attempt " + toDecimal(attempt) + u" of " +
           toDecimal(attempts) + u"): " + std::u16string(host) + u" " + hostFailurePhrase(failure);
}

}  // namespace mendly
