#include "patch/transfer_estimate.h"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "log/text.h"
#include "patch/patch_reporting.h"

namespace mendly {

void TransferEstimate::add(std::chrono::milliseconds at, std::uint64_t bytesDone) {
    samples_.push_back({at, bytesDone});
    while (samples_.size() > 2 && at - samples_[1].at >= kWindow) samples_.pop_front();
    const Sample& first = samples_.front();
    const auto span = at - first.at;
    if (span < std::chrono::seconds(1)) return;
    speed_ = static_cast<double>(bytesDone - first.bytes) * 1000.0 / static_cast<double>(span.count());
    recentSpeeds_.push_back(speed_);
    if (recentSpeeds_.size() > static_cast<std::size_t>(kSettleSamples)) recentSpeeds_.pop_front();
    if (settled_ || at < kSettleAfter || recentSpeeds_.size() < static_cast<std::size_t>(kSettleSamples)) return;
    const auto [low, high] = std::minmax_element(recentSpeeds_.begin(), recentSpeeds_.end());
    settled_ = *low > 0 && (*high - *low) <= kSettleSpread * *high;
}

std::optional<std::int64_t> TransferEstimate::secondsLeft(std::uint64_t remaining) const {
    if (!settled_ || speed_ <= 0) return std::nullopt;
    return static_cast<std::int64_t>(std::ceil(static_cast<double>(remaining) / speed_));
}

std::u16string formatTimeLeft(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    if (seconds < 60) return toDecimal(seconds) + u" s";
    const std::int64_t minutes = (seconds + 59) / 60;
    if (minutes < 60) return toDecimal(minutes) + u" min";
    const std::int64_t rest = minutes % 60;
    return toDecimal(minutes / 60) + u" h " + (rest < 10 ? u"0" : u"") + toDecimal(rest) + u" min";
}

TransferReporter::TransferReporter(const std::atomic<std::uint64_t>& bytesDone, std::uint64_t bytesTotal,
                                   PatchWindow* window)
    : bytesDone_(bytesDone), bytesTotal_(bytesTotal), window_(window) {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had: the stage runs without byte reports.
    }
}

TransferReporter::~TransferReporter() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void TransferReporter::sample(TransferEstimate& estimate, std::chrono::steady_clock::time_point start) {
    const auto at =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    PatchTransfer transfer;
    transfer.bytesTotal = bytesTotal_;
    transfer.bytesDone = bytesDone_.load(std::memory_order_relaxed);
    if (bytesTotal_ > 0) transfer.bytesDone = std::min(transfer.bytesDone, bytesTotal_);
    estimate.add(at, transfer.bytesDone);
    transfer.bytesPerSecond = estimate.bytesPerSecond();
    if (bytesTotal_ > 0) transfer.secondsLeft = estimate.secondsLeft(bytesTotal_ - transfer.bytesDone).value_or(-1);
    try {
        reportTransfer(window_, transfer);
    } catch (...) {
        // A report that could not be allocated is lost; the next one follows.
    }
}

void TransferReporter::run() {
    const auto start = std::chrono::steady_clock::now();
    TransferEstimate estimate;
    std::unique_lock lock(mutex_);
    for (auto next = start + kInterval; !stopping_; next += kInterval) {
        if (wake_.wait_until(lock, next, [this] { return stopping_; })) break;
        lock.unlock();
        sample(estimate, start);
        lock.lock();
    }
    lock.unlock();
    sample(estimate, start);  // where the stage ended
}

}  // namespace mendly
