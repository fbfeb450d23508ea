#include "net/rate_limit.h"

#include <array>
#include <thread>

#include "log/text.h"

namespace mendly {
namespace {

struct Suffix {
    char16_t letter;
    std::uint64_t factor;
};
constexpr std::array<Suffix, 3> kSuffixes = {{{u'K', 1ull << 10}, {u'M', 1ull << 20}, {u'G', 1ull << 30}}};

std::u16string_view trimmedView(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
    return s;
}

// The factor of a trailing K/M/G (removed from `text`), 1 without one.
std::uint64_t takeSuffix(std::u16string_view& text) {
    if (text.empty()) return 1;
    const char16_t last = text.back() >= u'a' && text.back() <= u'z' ? static_cast<char16_t>(text.back() - 32)
                                                                     : text.back();
    for (const Suffix& suffix : kSuffixes) {
        if (suffix.letter != last) continue;
        text.remove_suffix(1);
        return suffix.factor;
    }
    return 1;
}

}  // namespace

std::optional<std::uint64_t> parseRateLimit(std::u16string_view text) {
    text = trimmedView(text);
    const std::uint64_t factor = takeSuffix(text);
    text = trimmedView(text);
    // Whole part and fraction as one integer over a power of ten; at most 12
    // digits in all, so nothing below overflows.
    std::uint64_t digits = 0, scale = 1;
    std::size_t count = 0;
    bool point = false;
    for (const char16_t c : text) {
        if (c == u'.' && !point) {
            point = true;
            continue;
        }
        if (c < u'0' || c > u'9' || ++count > 12) return std::nullopt;
        digits = digits * 10 + static_cast<std::uint64_t>(c - u'0');
        if (point) scale *= 10;
    }
    if (count == 0) return std::nullopt;
    const long double value = static_cast<long double>(digits) * static_cast<long double>(factor) /
                              static_cast<long double>(scale);
    if (value < static_cast<long double>(kMinimumRateLimit) || value > static_cast<long double>(kMaximumRateLimit))
        return std::nullopt;
    const auto bytes = static_cast<std::uint64_t>(value);
    if (static_cast<long double>(bytes) != value) return std::nullopt;  // a fraction of a byte
    return bytes;
}

std::u16string formatRateLimit(std::uint64_t bytesPerSecond) {
    for (auto it = kSuffixes.rbegin(); it != kSuffixes.rend(); ++it)
        if (bytesPerSecond >= it->factor && bytesPerSecond % it->factor == 0)
            return toDecimal(static_cast<long long>(bytesPerSecond / it->factor)) + std::u16string(1, it->letter);
    return toDecimal(static_cast<long long>(bytesPerSecond));
}

std::u16string rateLimitProblem(std::u16string_view text) {
    return u"\"" + std::u16string(text) +
           u"\" is not a download limit: give bytes per second with K, M or G (for example 5M), at least 16K.";
}

TransferRateLimit::Clock::time_point TransferRateLimit::reserve(std::uint64_t bytes, Clock::time_point now) {
    const auto cost = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(rate_)));
    const std::lock_guard lock(mutex_);
    // An idle schedule starts again a little before now (the burst), not at
    // the moment it went idle.
    if (next_ < now - kBurst) next_ = now - kBurst;
    next_ += cost;
    return next_;
}

bool TransferRateLimit::take(std::uint64_t bytes, const std::atomic<bool>* cancel) {
    const auto due = reserve(bytes, Clock::now());
    constexpr auto kSlice = std::chrono::milliseconds(100);
    for (;;) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return false;
        const auto now = Clock::now();
        if (now >= due) return true;
        std::this_thread::sleep_until(std::min(due, now + kSlice));
    }
}

}  // namespace mendly
