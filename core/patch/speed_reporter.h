#pragma once
// The transfer speed shown while a patch run downloads: at most one
// "Downloading files (<speed>)" status every 800 ms, the first not before
// 800 ms into the stage, and only when a file has just finished.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "patch/patch_window.h"

namespace mendly {

// x bytes per second as "%.1f MB/s" (x >= 1048576), "%.1f KB/s" (x >= 1024)
// or the truncated integer and " B/s", with '.' as decimal point whatever the
// process locale.
std::u16string formatSpeed(double bytesPerSecond);

class SpeedReporter {
public:
    // The clock starts now. `bytesReceived` (every byte of every successful
    // transfer of the stage) must outlive the reporter.
    SpeedReporter(const std::atomic<std::uint64_t>& bytesReceived, PatchWindow* window);

    // Called by a download worker after each file that arrived and matched.
    void tick();
    // The same at `elapsedMs` whole milliseconds after the start.
    void tickAt(std::int64_t elapsedMs);

private:
    const std::atomic<std::uint64_t>& bytesReceived_;
    PatchWindow* const window_;
    const std::chrono::steady_clock::time_point start_;
    std::atomic<std::int64_t> lastReportMs_{0};
    std::mutex mutex_;  // held only to decide whether to report
};

}  // namespace mendly
