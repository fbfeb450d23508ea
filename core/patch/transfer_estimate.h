#pragma once
// Speed and time left of a download stage, from a moving average over the
// last few seconds, and the reporter that samples the stage's byte count
// twice a second and reports it (patch_reporting.h, reportTransfer).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "patch/patch_window.h"

namespace mendly {

// Owned by one thread (the reporter's); not shared.
class TransferEstimate {
public:
    // The moving average covers this much of the recent past.
    static constexpr std::chrono::milliseconds kWindow{5000};
    // Time left is given once at least this much has been measured and the
    // last kSettleSamples speeds lie within kSettleSpread of each other; from
    // then on it stays given.
    static constexpr std::chrono::milliseconds kSettleAfter{3000};
    static constexpr int kSettleSamples = 4;
    static constexpr double kSettleSpread = 0.25;

    // `at`: time since the stage started, never going back; `bytesDone`
    // never going down.
    void add(std::chrono::milliseconds at, std::uint64_t bytesDone);
    // Bytes per second over the window; 0 until a second has been measured.
    double bytesPerSecond() const { return speed_; }
    // Whole seconds (rounded up) for `remaining` bytes at the average speed,
    // once settled; nothing before, or while the speed is 0.
    std::optional<std::int64_t> secondsLeft(std::uint64_t remaining) const;

private:
    struct Sample {
        std::chrono::milliseconds at;
        std::uint64_t bytes;
    };
    std::deque<Sample> samples_;  // oldest first, spanning at most kWindow
    std::deque<double> recentSpeeds_;
    double speed_ = 0;
    bool settled_ = false;
};

// "45 s", "3 min", "1 h 05 min": the time left as the progress area shows it.
std::u16string formatTimeLeft(std::int64_t seconds);

// Samples `bytesDone` every kInterval on a thread of its own, from
// construction until destruction (which stops and joins it, after one last
// report), and reports each sample with its speed and time left.
// `bytesDone` must outlive the reporter. Threads: constructed and destroyed
// by the stage's thread; the sampling thread only reads the atomic.
class TransferReporter {
public:
    static constexpr std::chrono::milliseconds kInterval{500};

    TransferReporter(const std::atomic<std::uint64_t>& bytesDone, std::uint64_t bytesTotal, PatchWindow* window);
    ~TransferReporter();
    TransferReporter(const TransferReporter&) = delete;
    TransferReporter& operator=(const TransferReporter&) = delete;

private:
    void run();
    void sample(TransferEstimate& estimate, std::chrono::steady_clock::time_point start);

    const std::atomic<std::uint64_t>& bytesDone_;
    const std::uint64_t bytesTotal_;
    PatchWindow* const window_;
    std::mutex mutex_;  // guards stopping_
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace mendly
